// Big-endian fields: writers for messages built at explicit offsets, and
// readers for received bytes that check every read against the bytes there are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "net/packet/checksum.h"

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

// Whether `count` bytes from `offset` lie within `bytes`, without overflow.
inline bool holds(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t count) {
  return offset <= bytes.size() && count <= bytes.size() - offset;
}

// The unsigned big-endian number of `width` bytes (at most 4) at `offset`;
// nothing when the bytes end sooner.
inline std::optional<std::uint32_t> readBe(std::span<const std::uint8_t> bytes, std::size_t offset,
                                           std::size_t width) {
  if (width > 4 || !holds(bytes, offset, width)) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = value << 8U | bytes[offset + i];
  return value;
}

inline std::optional<std::uint8_t> readByte(std::span<const std::uint8_t> bytes,
                                            std::size_t offset) {
  if (!holds(bytes, offset, 1)) return std::nullopt;
  return bytes[offset];
}

inline std::optional<std::uint16_t> readBe16(std::span<const std::uint8_t> bytes,
                                             std::size_t offset) {
  const auto value = readBe(bytes, offset, 2);
  if (!value) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

inline std::optional<std::uint32_t> readBe32(std::span<const std::uint8_t> bytes,
                                             std::size_t offset) {
  return readBe(bytes, offset, 4);
}

}  // namespace net
