// The console's control handler ends the process where it is; nothing is
// registered for it to settle.
#include "net/farewell.h"

namespace net {

void PendingFarewell::arm(NativeSocket /*handle*/, std::span<const std::uint8_t> /*message*/,
                          const SocketAddress& /*destination*/) noexcept {}

void PendingFarewell::disarm() noexcept {}

PendingRemoval::PendingRemoval(const std::string& /*path*/) noexcept {}

void PendingRemoval::disarm() noexcept {}

void settleOnInterrupt() {}

void settlePending() noexcept {}

}  // namespace net
