// The one seam between net/ and the operating system: the one header that
// includes the platform's socket headers. Every other file of net/ reaches
// sockets, clocks and processes through what it declares, and code outside
// net/ through net/process.h and the types of net/; the definitions live in
// one source file per platform (posix/, win32/), chosen by the build.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "net/address.h"
#include "net/process.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace net {

#ifdef _WIN32
using NativeSocket = SOCKET;
#else
using NativeSocket = int;
#endif
inline constexpr NativeSocket kInvalidSocket = static_cast<NativeSocket>(~0);

// The platform's error number of the last failed socket call on this thread.
int lastSocketError();

// A timer that fires once, a given time after it is made (Linux: a timerfd),
// owned: the destructor closes it. Where the platform has none, or the
// kernel refused one, it is not armed and waits fall back on other means.
class OneShotTimer {
 public:
  OneShotTimer() = default;
  explicit OneShotTimer(std::chrono::milliseconds fromNow);
  ~OneShotTimer();
  OneShotTimer(const OneShotTimer&) = delete;
  OneShotTimer& operator=(const OneShotTimer&) = delete;
  OneShotTimer(OneShotTimer&&) = delete;
  OneShotTimer& operator=(OneShotTimer&&) = delete;

  [[nodiscard]] bool armed() const { return handle_ != -1; }
  // The descriptor that becomes readable when the timer fires; -1 when not armed.
  [[nodiscard]] int handle() const { return handle_; }
  // Blocks until the timer fires; false when it could not wait for it.
  bool waitUntilFired() const;

 private:
  int handle_ = -1;
};

// The end of one listening wait, fixed when it is made. Every wait on it
// returns when the socket is readable or at that moment, whichever is first,
// however many reads come between. On Linux a timer of its own ends the wait:
// poll() alone may overrun each timeout by a thousandth of its length (2 ms in
// 2 s), which a pass of eight tests adds up.
class Deadline {
 public:
  // A timeout of 0 or less has passed already.
  explicit Deadline(std::int32_t fromNowMs);
  ~Deadline();
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;
  Deadline(Deadline&&) = delete;
  Deadline& operator=(Deadline&&) = delete;

  [[nodiscard]] bool passed() const;
  // The moment the deadline comes.
  [[nodiscard]] std::chrono::steady_clock::time_point end() const { return end_; }
  // 1 when `handle` can be read, 0 when the deadline has come, -1 on a failed
  // wait (the caller reads lastSocketError()).
  int waitReadable(NativeSocket handle);

 private:
  std::chrono::steady_clock::time_point end_;
  // Armed for end_ where the platform has such timers; else the wait falls
  // back to the socket wait's own timeout.
  OneShotTimer timer_;
};

// The platform's "no such device" error number (ENODEV, WSAENETDOWN).
extern const int kNoSuchDeviceError;

// A socket address of either family in the platform's own form, as the
// socket calls take and return it.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  [[nodiscard]] const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  [[nodiscard]] sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

SocketAddress socketAddressOf(const Endpoint& endpoint);
// The endpoint a socket address holds; 0.0.0.0 port 0 for a family other
// than IPv4 and IPv6.
Endpoint endpointOf(const SocketAddress& address);
// The platform's address family constant (AF_INET, AF_INET6).
int nativeFamily(Family family);

namespace os {

// Thin forms of the socket calls with one signature on every platform. They
// return what the platform call returns; the caller reads lastSocketError().
// Closing is UniqueSocket's alone.
NativeSocket openSocket(int family, int type, int protocol);
int sendTo(NativeSocket handle, std::span<const std::uint8_t> message,
           const SocketAddress& destination);
// `source` receives the sender's address, its length set by the call.
int recvFrom(NativeSocket handle, std::span<std::uint8_t> buffer, SocketAddress& source);
// select() on one socket for reading; timeOutMs -1 waits without limit.
int selectReadable(NativeSocket handle, std::int32_t timeOutMs);
int setOption(NativeSocket handle, int level, int option, const void* value, int length);
int bindTo(NativeSocket handle, const SocketAddress& address);
int connectTo(NativeSocket handle, const SocketAddress& address);
int localAddressOf(NativeSocket handle, SocketAddress& address);
// Ties the socket to the named interface where the platform can (Linux's
// SO_BINDTODEVICE); elsewhere the bound address does it and this returns 0.
int bindToDevice(NativeSocket handle, const std::string& interfaceName);
// gethostname into `buffer`, always ending in a NUL; 0 or -1.
int hostName(std::span<char> buffer);

}  // namespace os
}  // namespace net
