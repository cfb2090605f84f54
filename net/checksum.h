#pragma once

#include <cstdint>
#include <span>

namespace net {

// The Internet checksum (RFC 1071) of `data`, as a big-endian value: store it
// with its high byte first and the message carries it in network byte order.
std::uint16_t internetChecksum(std::span<const std::uint8_t> data);

}  // namespace net
