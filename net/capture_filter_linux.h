// Classic BPF programs for the link captures, so the kernel drops whatever
// the readers would discard before it is copied to this process. Offsets
// count from the IPv4 header, as on a SOCK_DGRAM packet socket.
#pragma once

#include <linux/filter.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace net::linux_if {

// Keeps first fragments (offset 0) of `ipProtocol` whose first payload byte,
// at the header length the datagram gives, is one of `firstBytes`.
std::vector<sock_filter> captureProgram(int ipProtocol,
                                        std::initializer_list<std::uint8_t> firstBytes);

// The program a capture of `ipProtocol` gets: IGMP Membership Queries (first
// byte 0x11), PIM Hellos (0x20) and Candidate-RP-Advertisements (0x28);
// nothing of any other protocol.
std::vector<sock_filter> captureProgramFor(int ipProtocol);

// The raw ICMP socket's program: ICMP echo replies (type 0) that carry
// `identifier` as it goes on the wire, low byte first. The kernel has put
// back the IPv4 header, so offsets count from it here too.
std::vector<sock_filter> echoReplyProgram(std::uint16_t identifier);

// The UDP datagrams of one beacon: first fragments to `group` (IPv4, host
// byte order) and UDP destination `port`, from `source` alone when given.
std::vector<sock_filter> beaconProgram(std::uint32_t group, std::uint16_t port,
                                       std::optional<std::uint32_t> source);

// The IPv6 capture's program (offsets from the IPv6 header, as on an
// ETH_P_IPV6 packet socket): it walks up to 8 extension headers (hop-by-hop,
// routing, destination options; a fragment header only at offset 0) to
// `nextHeader`, and keeps the datagram when the message's first byte is one
// of `firstBytes`. Anything else, longer chains and cut datagrams included,
// is dropped.
std::vector<sock_filter> ipv6CaptureProgram(std::uint8_t nextHeader,
                                            std::initializer_list<std::uint8_t> firstBytes);

// What an IPv6 capture of `nextHeader` keeps: MLD queries (ICMPv6 type 130),
// or PIM Hellos, Bootstrap messages and Candidate-RP-Advertisements; nothing
// of any other protocol.
std::vector<sock_filter> ipv6CaptureProgramFor(int nextHeader);

// The raw ICMPv6 socket's program: echo replies (type 129) carrying
// `identifier` low byte first. The kernel hands it the ICMPv6 message alone,
// so offsets count from the message.
std::vector<sock_filter> echoReplyProgramV6(std::uint16_t identifier);

// Keeps nothing: for a socket that only sends.
std::vector<sock_filter> dropAllProgram();

// Queues what the kernel gives (the whole datagram) on a pass.
inline constexpr std::uint32_t kKeepWhole = 0x40000;

}  // namespace net::linux_if
