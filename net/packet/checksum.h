#pragma once

#include <cstdint>
#include <span>

#include "net/address.h"

namespace net {

// The Internet checksum (RFC 1071) of `data`, as a big-endian value: store it
// with its high byte first and the message carries it in network byte order.
std::uint16_t internetChecksum(std::span<const std::uint8_t> data);

// What an upper-layer checksum covers besides the message itself: the
// datagram's addresses and the message's protocol (IPv4: RFC 768; IPv6:
// RFC 8200 8.1, which ICMPv6 and PIM over IPv6 use). Both addresses are of
// one family.
struct PseudoHeader {
  Address source;
  Address destination;
  std::uint8_t protocol = 0;
};

// The checksum of `data` behind its pseudo-header; the message's length is
// the size of `data`.
std::uint16_t internetChecksum(std::span<const std::uint8_t> data, const PseudoHeader& header);

}  // namespace net
