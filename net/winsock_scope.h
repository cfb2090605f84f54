#pragma once

// Brackets the process's use of the socket library. Windows needs it started
// and ended; elsewhere it does nothing.
class WinsockScope {
 public:
  WinsockScope();
  // Cleanup can fail and is reported like any socket failure.
  ~WinsockScope() noexcept(false);

  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  WinsockScope(WinsockScope&&) = delete;
  WinsockScope& operator=(WinsockScope&&) = delete;
};
