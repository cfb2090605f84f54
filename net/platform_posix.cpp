#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <thread>
#include <utility>

#include "net/platform.h"
#include "net/unique_socket.h"

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

int sendTo(NativeSocket handle, std::span<const std::uint8_t> message,
           const sockaddr_in& destination) {
  return static_cast<int>(::sendto(handle, message.data(), message.size(), 0,
                                   asSockaddr(destination), sizeof destination));
}

int recvFrom(NativeSocket handle, std::span<std::uint8_t> buffer, sockaddr_in& source) {
  socklen_t length = sizeof source;
  return static_cast<int>(::recvfrom(handle, buffer.data(), buffer.size(), 0,
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

int hostName(std::span<char> buffer) {
  if (buffer.empty()) return -1;
  buffer.back() = '\0';
  return ::gethostname(buffer.data(), buffer.size() - 1);
}

}  // namespace os

void UniqueSocket::reset() noexcept {
  const NativeSocket handle = std::exchange(handle_, kInvalidSocket);
  if (handle == kInvalidSocket) return;
  if (closing_ == Closing::InBackground) {
    try {
      std::thread([handle] { ::close(handle); }).detach();
      return;
    } catch (...) {
      // No thread to spare: close here and wait after all.
    }
  }
  // Don't retry close on EINTR: the descriptor is gone either way.
  ::close(handle);
}

}  // namespace net
