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

// One datagram as a raw socket or a capture hands it over, its header read.
struct IpDatagram {
  Family family = Family::V4;
  // The protocol of the payload (IPv4's protocol field).
  std::uint8_t protocol = 0;
  Address source;
  Address destination;
  // The TTL it arrived with.
  std::uint8_t hopLimit = 0;
  // The message it carries: the bytes after the header, up to the length the
  // header declares or the end of what arrived, whichever is sooner.
  std::span<const std::uint8_t> payload;
};

// Reads the header the first byte announces. Nothing for a runt (an IPv4
// header length under 20, or a header longer than the datagram), for a
// fragment other than the first (its data begins mid-message), and for a
// version this reader does not know.
std::optional<IpDatagram> parseDatagram(std::span<const std::uint8_t> datagram);

}  // namespace net
