#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <system_error>
#include <thread>

#include "net/platform.h"

namespace net {

int lastSocketError() { return errno; }

std::uint32_t tickCountMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now);
  // Truncation to 32 bits is the point: the listening loops work on wrapping
  // unsigned differences.
  return static_cast<std::uint32_t>(ms.count());
}

void pauseMs(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint32_t processId() { return static_cast<std::uint32_t>(::getpid()); }

const int kNoSuchDeviceError = ENODEV;

namespace {
// _exit is safe in a signal handler; nothing buffered is lost, because
// standard output is written line by line.
extern "C" void endAtOnce(int signalNumber) { ::_exit(128 + signalNumber); }
}  // namespace

void endProcessOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = endAtOnce;
  ::sigemptyset(&action.sa_mask);
  for (const int signalNumber : {SIGINT, SIGTERM}) ::sigaction(signalNumber, &action, nullptr);
}

namespace os {

namespace {
const sockaddr* asSockaddr(const sockaddr_in& address) {
  return reinterpret_cast<const sockaddr*>(&address);
}
}  // namespace

NativeSocket openSocket(int family, int type, int protocol) {
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

void closeSocket(NativeSocket handle) {
  // Don't retry close on EINTR: the descriptor is gone either way.
  ::close(handle);
}

void closeSocketInBackground(NativeSocket handle) {
  // Closing a packet socket waits out an RCU grace period in the kernel,
  // up to tens of milliseconds on a busy host; no test needs to wait for it.
  try {
    std::thread([handle] { ::close(handle); }).detach();
  } catch (const std::system_error&) {
    ::close(handle);
  }
}

int sendTo(NativeSocket handle, const std::uint8_t* data, int length,
           const sockaddr_in& destination) {
  return static_cast<int>(::sendto(handle, data, static_cast<std::size_t>(length), 0,
                                   asSockaddr(destination), sizeof destination));
}

int recvFrom(NativeSocket handle, std::uint8_t* buffer, int capacity, sockaddr_in& source) {
  socklen_t length = sizeof source;
  return static_cast<int>(::recvfrom(handle, buffer, static_cast<std::size_t>(capacity), 0,
                                     reinterpret_cast<sockaddr*>(&source), &length));
}

int selectReadable(NativeSocket handle, std::int32_t timeOutMs) {
  // poll rather than select: a descriptor number above FD_SETSIZE must not
  // overrun an fd_set. Both wait the same way and -1 means no limit in both.
  pollfd entry{handle, POLLIN, 0};
  return ::poll(&entry, 1, timeOutMs);
}

int setOption(NativeSocket handle, int level, int option, const void* value, int length) {
  return ::setsockopt(handle, level, option, value, static_cast<socklen_t>(length));
}

int bindTo(NativeSocket handle, const sockaddr_in& address) {
  return ::bind(handle, asSockaddr(address), sizeof address);
}

int connectTo(NativeSocket handle, const sockaddr_in& address) {
  return ::connect(handle, asSockaddr(address), sizeof address);
}

int localAddressOf(NativeSocket handle, sockaddr_in& address) {
  socklen_t length = sizeof address;
  return ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
}

int bindToDevice(NativeSocket handle, const std::string& interfaceName) {
  return ::setsockopt(handle, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                      static_cast<socklen_t>(interfaceName.size()));
}

}  // namespace os
}  // namespace net
