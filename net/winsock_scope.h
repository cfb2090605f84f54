#pragma once

namespace net {

// Brackets the process's use of the socket library. Windows needs it started
// and ended; elsewhere it does nothing.
class WinsockScope {
 public:
  // Throws CV_SocketException when the library cannot be started.
  WinsockScope();
  // Ends the library's use now. Cleanup can fail, and is then reported like
  // any socket failure: CV_SocketException("WSACleanup").
  void close();
  // Ends it, if close() has not, and never throws: a failure here could only
  // replace an exception already on its way or end the process. Trivial on
  // POSIX, but not on Windows, so not defaulted here.
  ~WinsockScope();  // NOLINT(performance-trivially-destructible)

  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  WinsockScope(WinsockScope&&) = delete;
  WinsockScope& operator=(WinsockScope&&) = delete;

 private:
  bool open_ = true;
};

}  // namespace net
