// The one way every probe listens: a deadline fixed at entry, a wait bounded
// by the time left, one read, the time left recomputed after every read. Only
// what a datagram means differs between probes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "net/platform.h"
#include "net/socket.h"

namespace net {

inline constexpr int kReceiveBufferSize = 4096;

enum class AfterDatagram { KeepListening, StopListening };

// Calls onDatagram(bytes, sender) for each datagram read until timeOutMs has
// passed or the handler says stop. timeOutMs of 0 or less returns at once.
template <typename Handler>
void listenFor(Socket& socket, std::int32_t timeOutMs, Handler&& onDatagram) {
  std::array<std::uint8_t, kReceiveBufferSize> buffer{};
  sockaddr_in sender;
  std::memset(&sender, 0, sizeof sender);
  const std::uint32_t start = tickCountMs();
  std::int32_t remaining = timeOutMs;
  while (remaining > 0) {
    if (socket.waitReadable(remaining)) {
      const int received = socket.recvFrom(buffer, sender);
      const std::span<const std::uint8_t> datagram(buffer.data(),
                                                   static_cast<std::size_t>(received));
      if (onDatagram(datagram, sender) == AfterDatagram::StopListening) return;
    }
    // Unsigned difference: a wrap of the tick counter between the two
    // readings does no harm.
    remaining = timeOutMs - static_cast<std::int32_t>(tickCountMs() - start);
  }
}

}  // namespace net
