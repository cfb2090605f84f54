// Reading captured IP datagrams without trusting them: every offset is
// checked against the bytes actually received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "net/address.h"

namespace net {

inline constexpr std::size_t kMinIpv4HeaderLength = 20;
inline constexpr std::size_t kIpv6HeaderLength = 40;

// ICMPv6's next header: echo and MLD both travel in it.
inline constexpr std::uint8_t kIcmpv6Protocol = 58;

// The most IPv6 extension headers read before a datagram's message: more is
// no datagram a router sends, only a way to make a reader walk.
inline constexpr std::size_t kMaxIpv6ExtensionHeaders = 8;

// One datagram as a raw socket or a capture hands it over, its header read.
struct IpDatagram {
  Family family = Family::V4;
  // The protocol of the payload: IPv4's protocol field, or the next header
  // that ends IPv6's extension-header chain (58 ICMPv6, 103 PIM, 17 UDP...).
  std::uint8_t protocol = 0;
  Address source;
  Address destination;
  // The TTL or hop limit it arrived with.
  std::uint8_t hopLimit = 0;
  // The message it carries: the bytes after the header (and IPv6's extension
  // headers), up to the length the header declares or the end of what
  // arrived, whichever is sooner.
  std::span<const std::uint8_t> payload;
  // The value of a Router Alert (IPv4 option 148, RFC 2113; IPv6 hop-by-hop
  // option 5, RFC 2711), where the datagram carries one of the right length.
  std::optional<std::uint16_t> routerAlert;
};

// Reads the header the first byte announces, IPv4 or IPv6. Nothing for a
// runt (an IPv4 header length under 20, or a header longer than the
// datagram), for a fragment other than the first (its data begins
// mid-message), and for a version this reader does not know. IPv6 also gives
// nothing for an extension header cut short, a hop-by-hop header anywhere but
// first (RFC 8200 4.1), No Next Header (59), and a chain of more than
// kMaxIpv6ExtensionHeaders.
std::optional<IpDatagram> parseDatagram(std::span<const std::uint8_t> datagram);

// The source address of the IPv4 or IPv6 header `datagram` begins with,
// without parseDatagram's other checks: for a capture that only needs to
// know who sent what its reader then parses whole. Nothing when the fixed
// header is cut short or of another version.
std::optional<Address> sourceOf(std::span<const std::uint8_t> datagram);

}  // namespace net
