// What every fuzz target shares: the bytes as a span and a property check that
// stops the run with the offending input saved, in release builds too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

namespace fuzzing {

inline std::span<const std::uint8_t> bytesOf(const std::uint8_t* data, std::size_t size) {
  return {data, size};
}

// The header length a datagram's first byte declares, in bytes.
inline std::size_t declaredHeaderLength(std::span<const std::uint8_t> datagram) {
  return datagram.empty() ? 0U : static_cast<std::size_t>(datagram[0] & 0x0FU) * 4U;
}

// The datagram proper: the bytes received, cut to the total length that the
// header declares (what follows it is link-layer padding).
inline std::size_t declaredDatagramLength(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < 4) return datagram.size();
  const std::size_t total = (static_cast<std::size_t>(datagram[2]) << 8U) | datagram[3];
  return total < datagram.size() ? total : datagram.size();
}

// A fragment other than the first: its data does not begin with a header.
inline bool laterFragment(std::span<const std::uint8_t> datagram) {
  return datagram.size() >= 8 && ((datagram[6] & 0x1FU) | datagram[7]) != 0U;
}

// An IPv4 header by its version number.
inline bool versionFour(std::span<const std::uint8_t> datagram) {
  return !datagram.empty() && (datagram[0] >> 4U) == 4U;
}

// Whether `needed` bytes follow a well-formed IPv4 header (RFC 791: at least
// 20 bytes, all of it within the datagram) in a datagram that is no later
// fragment.
inline bool carriesPayload(std::span<const std::uint8_t> datagram, std::size_t needed) {
  const std::size_t header = declaredHeaderLength(datagram);
  return versionFour(datagram) && header >= 20 && !laterFragment(datagram) &&
         declaredDatagramLength(datagram) >= header + needed;
}

}  // namespace fuzzing
