// The one seam between the tool and the operating system. Every other file
// reaches sockets, clocks and processes through what this header declares;
// the definitions live in one source file per platform, chosen by the build.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

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

// Milliseconds from a monotonic clock, wrapping at 2^32; only differences of
// two readings mean anything.
std::uint32_t tickCountMs();

void pauseMs(std::uint32_t milliseconds);

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
  // 1 when `handle` can be read, 0 when the deadline has come, -1 on a failed
  // wait (the caller reads lastSocketError()).
  int waitReadable(NativeSocket handle);

 private:
  std::chrono::steady_clock::time_point end_;
  // Linux: a timerfd armed for end_; -1 where the platform has none, and
  // then the wait falls back to the socket wait's own timeout.
  int timer_ = -1;
};

std::uint32_t processId();

// From here on Ctrl-C or a termination request ends the process at once,
// with status 128 + the signal's number (130, 143); the sockets, and with
// them the group memberships, close with it.
void endProcessOnInterrupt();

// The platform's "no such device" error number (ENODEV, WSAENETDOWN).
extern const int kNoSuchDeviceError;

namespace os {

// Thin forms of the socket calls with one signature on every platform. They
// return what the platform call returns; the caller reads lastSocketError().
// Closing is UniqueSocket's alone.
NativeSocket openSocket(int family, int type, int protocol);
int sendTo(NativeSocket handle, std::span<const std::uint8_t> message,
           const sockaddr_in& destination);
int recvFrom(NativeSocket handle, std::span<std::uint8_t> buffer, sockaddr_in& source);
// select() on one socket for reading; timeOutMs -1 waits without limit.
int selectReadable(NativeSocket handle, std::int32_t timeOutMs);
int setOption(NativeSocket handle, int level, int option, const void* value, int length);
int bindTo(NativeSocket handle, const sockaddr_in& address);
int connectTo(NativeSocket handle, const sockaddr_in& address);
int localAddressOf(NativeSocket handle, sockaddr_in& address);
// Ties the socket to the named interface where the platform can (Linux's
// SO_BINDTODEVICE); elsewhere the bound address does it and this returns 0.
int bindToDevice(NativeSocket handle, const std::string& interfaceName);
// gethostname into `buffer`, always ending in a NUL; 0 or -1.
int hostName(std::span<char> buffer);

}  // namespace os
}  // namespace net
