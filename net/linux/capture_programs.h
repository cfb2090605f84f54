// Classic BPF programs for the IPv6 link captures, so the kernel drops
// whatever the readers would discard before it is copied to this process.
// Hand-written: libpcap's protochain, the one expression that walks
// extension headers, jumps backwards, which the kernel refuses, and follows
// later fragments and chains of any length.
#pragma once

#include <linux/filter.h>

#include <cstdint>
#include <span>
#include <vector>

#include "net/capture/capture_request.h"

namespace net::linux_if {

// The IPv6 capture's program (offsets from the IPv6 header, as on an
// ETH_P_IPV6 packet socket): it keeps only version 6, walks up to 8 extension headers (hop-by-hop,
// routing, destination options; a fragment header only at offset 0) to
// `nextHeader`, and keeps the datagram when the message's first byte is one
// of `firstBytes`, or when it has one at all if `firstBytes` is empty.
// Anything else, longer chains and cut datagrams included, is dropped.
std::vector<sock_filter> ipv6CaptureProgram(std::uint8_t nextHeader,
                                            std::span<const std::uint8_t> firstBytes);

// The IPv6 capture's program for an IPv6 `request` (say MLD queries: next
// header 58, ICMPv6 type 130). It reads the protocol and the message types
// alone; throws std::invalid_argument for a request that asks more, or of
// another family.
std::vector<sock_filter> ipv6CaptureProgramFor(const CaptureRequest& request);

// Put before a packet socket's program: drops what the interface received
// for another host's address (PACKET_OTHERHOST), as a bridge port or a
// promiscuous interface hands over, which is no traffic of this link's host.
std::vector<sock_filter> withoutOtherHosts(const std::vector<sock_filter>& program);

// Queues what the kernel gives (the whole datagram) on a pass.
inline constexpr std::uint32_t kKeepWhole = 0x40000;

}  // namespace net::linux_if
