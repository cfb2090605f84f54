// The clock, the pause and the process, as code outside net/ uses them; the
// definitions are the platform's, beside the rest of net/platform.h.
#pragma once

#include <cstdint>

namespace net {

// Milliseconds from a monotonic clock, wrapping at 2^32; only differences of
// two readings mean anything.
std::uint32_t tickCountMs();

void pauseMs(std::uint32_t milliseconds);

std::uint32_t processId();

// From here on Ctrl-C or a termination request ends the process at once,
// with status 128 + the signal's number (130, 143); the sockets, and with
// them the group memberships, close with it.
void endProcessOnInterrupt();

}  // namespace net
