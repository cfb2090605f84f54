// What every fuzz target shares: the bytes as a span and a property check that
// stops the run with the offending input saved, in release builds too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
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

// The value of the first Router Alert among IPv4 options (RFC 2113: type
// 148, length 4); End (0) stops the scan, No-Operation (1) is one byte, and
// an option whose length is under 2 or runs past the options stops it too.
inline std::optional<std::uint16_t> ipv4RouterAlert(std::span<const std::uint8_t> options) {
  for (std::size_t at = 0; at < options.size() && options[at] != 0;) {
    if (options[at] == 1) {
      at += 1;
      continue;
    }
    if (at + 1 >= options.size() || options[at + 1] < 2 || options[at + 1] > options.size() - at) {
      break;
    }
    if (options[at] == 148 && options[at + 1] == 4) {
      return static_cast<std::uint16_t>(options[at + 2] << 8U | options[at + 3]);
    }
    at += options[at + 1];
  }
  return std::nullopt;
}

// The same for IPv6 hop-by-hop options (RFC 2711: type 5, two bytes of data);
// Pad1 (0) is one byte, every other option two plus its data.
inline std::optional<std::uint16_t> ipv6RouterAlert(std::span<const std::uint8_t> options) {
  for (std::size_t at = 0; at < options.size();) {
    if (options[at] == 0) {
      at += 1;
      continue;
    }
    if (at + 1 >= options.size() || options[at + 1] > options.size() - at - 2) break;
    if (options[at] == 5 && options[at + 1] == 2) {
      return static_cast<std::uint16_t>(options[at + 2] << 8U | options[at + 3]);
    }
    at += 2U + options[at + 1];
  }
  return std::nullopt;
}

inline bool versionSix(std::span<const std::uint8_t> datagram) {
  return !datagram.empty() && (datagram[0] >> 4U) == 6U;
}

// What a walk of an IPv6 datagram's extension headers (RFC 8200 4) finds:
// hop-by-hop (0, first only), routing (43), fragment (44, 8 bytes), and
// destination options (60) are crossed, at most 8 of them; No Next Header
// (59) ends it with nothing; any other next header is the message's.
struct Ipv6Walk {
  bool message = false;
  bool laterFragment = false;
  std::size_t payloadAt = 0;
  // The datagram's end: its declared length, or what arrived.
  std::size_t end = 0;
  std::uint8_t protocol = 0;
  std::optional<std::uint16_t> routerAlert;
};

inline Ipv6Walk walkIpv6(std::span<const std::uint8_t> datagram) {
  Ipv6Walk walk;
  if (!versionSix(datagram) || datagram.size() < 40) return walk;
  const std::size_t declared = 40U + (static_cast<std::size_t>(datagram[4]) << 8U | datagram[5]);
  walk.end = declared < datagram.size() ? declared : datagram.size();
  std::uint8_t next = datagram[6];
  std::size_t at = 40;
  for (int crossed = 0; next == 0 || next == 43 || next == 44 || next == 59 || next == 60;
       ++crossed) {
    if (next == 59 || crossed == 8 || (next == 0 && crossed > 0)) return walk;
    if (next != 44 && at + 1 >= walk.end) return walk;
    const std::size_t length = next == 44 ? 8U : (datagram[at + 1] + 1U) * 8U;
    if (length > walk.end - at) return walk;
    if (next == 44 && (datagram[at + 2] << 5U | datagram[at + 3] >> 3U) != 0U) {
      walk.laterFragment = true;
      return walk;
    }
    if (next == 0) walk.routerAlert = ipv6RouterAlert(datagram.subspan(at + 2, length - 2));
    next = datagram[at];
    at += length;
  }
  walk.message = true;
  walk.payloadAt = at;
  walk.protocol = next;
  return walk;
}

// Where the message of a datagram of either family lies, as found above.
struct Carried {
  bool present = false;
  bool v6 = false;
  std::size_t at = 0;
  std::size_t length = 0;
  std::uint8_t protocol = 0;
  // The IP source: its offset and its length, 4 or 16.
  std::size_t sourceAt = 0;
  std::size_t addressLength = 0;
};

inline Carried carried(std::span<const std::uint8_t> datagram) {
  if (carriesPayload(datagram, 0)) {
    const std::size_t header = declaredHeaderLength(datagram);
    return {true, false, header, declaredDatagramLength(datagram) - header, datagram[9], 12, 4};
  }
  const Ipv6Walk walk = walkIpv6(datagram);
  if (!walk.message) return {};
  return {true, true, walk.payloadAt, walk.end - walk.payloadAt, walk.protocol, 8, 16};
}

}  // namespace fuzzing
