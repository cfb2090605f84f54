// The one way every probe listens: a deadline fixed at entry, a wait that
// ends at it or at a datagram, one read, then the same deadline again. Only
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
  Deadline deadline(timeOutMs);
  while (socket.waitReadable(deadline)) {
    const int received = socket.recvFrom(buffer, sender);
    const std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(received));
    if (onDatagram(datagram, sender) == AfterDatagram::StopListening) return;
  }
}

}  // namespace net
