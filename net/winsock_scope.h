#pragma once

namespace net {

// Brackets the process's use of the socket library. Windows needs it started
// and ended; elsewhere it does nothing.
class WinsockScope {
 public:
  WinsockScope();
  // Cleanup can fail and is reported like any socket failure. Trivial on
  // POSIX, but not on Windows, so not defaulted here.
  ~WinsockScope() noexcept(false);  // NOLINT(performance-trivially-destructible)

  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  WinsockScope(WinsockScope&&) = delete;
  WinsockScope& operator=(WinsockScope&&) = delete;
};

}  // namespace net
