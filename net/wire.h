// Big-endian field writers for messages built at explicit offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "net/checksum.h"

namespace net {

inline void putBe16(std::span<std::uint8_t> message, std::size_t offset, std::uint16_t value) {
  message[offset] = static_cast<std::uint8_t>(value >> 8U);
  message[offset + 1] = static_cast<std::uint8_t>(value & 0xFFU);
}

inline void putBe32(std::span<std::uint8_t> message, std::size_t offset, std::uint32_t value) {
  putBe16(message, offset, static_cast<std::uint16_t>(value >> 16U));
  putBe16(message, offset + 2, static_cast<std::uint16_t>(value & 0xFFFFU));
}

// Computes the Internet checksum over the whole message, whose checksum field
// at `offset` must still be zero, and stores it there.
inline void putChecksum(std::span<std::uint8_t> message, std::size_t offset) {
  putBe16(message, offset, internetChecksum(message));
}

}  // namespace net
