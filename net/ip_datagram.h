// Reading captured IPv4 datagrams without trusting them: every offset is
// checked against the bytes actually received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "net/platform.h"

namespace net {

inline constexpr std::size_t kMinIpv4HeaderLength = 20;

struct Ipv4Datagram {
  std::uint8_t protocol;
  in_addr source;
  in_addr destination;
  std::span<const std::uint8_t> payload;
};

// Splits a datagram at the header length its first byte gives; the payload
// ends where the header's total length says, or where the bytes received end
// if that is sooner. A runt (a header length under 20, a header longer than
// the datagram, or fewer than `payloadBytesNeeded` bytes after it) gives
// nothing, and so does a fragment other than the first.
std::optional<Ipv4Datagram> parseIpv4(std::span<const std::uint8_t> datagram,
                                      std::size_t payloadBytesNeeded);

// The datagram's source address as a socket address; 0.0.0.0 when the
// datagram is too short to carry one.
sockaddr_in ipSourceOf(std::span<const std::uint8_t> datagram);

}  // namespace net
