#include "net/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>

#include "net/stop_request.h"
#include "net/unique_socket.h"

namespace net {

int lastSocketError() { return ::WSAGetLastError(); }

// GetTickCount wraps after 49.7 days; the listening loops only take
// unsigned differences, which survive the wrap.
std::uint32_t tickCountMs() { return static_cast<std::uint32_t>(::GetTickCount()); }

void pauseMs(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

// Waits here are select() timeouts; no timer handle takes part in them.
OneShotTimer::OneShotTimer(std::chrono::milliseconds /*fromNow*/) {}

OneShotTimer::~OneShotTimer() = default;

bool OneShotTimer::waitUntilFired() const { return false; }

Deadline::Deadline(std::int32_t fromNowMs)
    : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(fromNowMs, 0))) {}

Deadline::~Deadline() = default;

bool Deadline::passed() const { return std::chrono::steady_clock::now() >= end_; }

int Deadline::waitReadable(NativeSocket handle) {
  // select() takes whole milliseconds here: round up, so it never ends early.
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  return os::selectReadable(handle, static_cast<std::int32_t>(left.count()));
}

std::uint32_t processId() { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

const int kNoSuchDeviceError = WSAENETDOWN;

namespace {
// Console control events arrive on a thread of their own; ExitProcess ends
// every thread. Ctrl-C ends as SIGINT does elsewhere, a close or shutdown as
// SIGTERM.
BOOL WINAPI endAtOnce(DWORD event) {
  ::ExitProcess(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130U : 143U);
}
}  // namespace

void endProcessOnInterrupt() { ::SetConsoleCtrlHandler(endAtOnce, TRUE); }

// The watch, the only user, is Linux's alone: Ctrl-C ends the process here.
void stopOnInterrupt() { endProcessOnInterrupt(); }

bool stopRequested() { return false; }

bool outputIsTerminal() { return false; }

namespace os {

NativeSocket openSocket(int family, int type, int protocol) {
  return ::socket(family, type, protocol);
}

int sendTo(NativeSocket handle, std::span<const std::uint8_t> message,
           const SocketAddress& destination) {
  return ::sendto(handle, reinterpret_cast<const char*>(message.data()),
                  static_cast<int>(message.size()), 0, destination.get(), destination.length);
}

int recvFrom(NativeSocket handle, std::span<std::uint8_t> buffer, SocketAddress& source) {
  source.length = sizeof source.storage;
  const int capacity = static_cast<int>(buffer.size());
  const int received = ::recvfrom(handle, reinterpret_cast<char*>(buffer.data()), capacity, 0,
                                  source.get(), &source.length);
  // A datagram longer than the buffer has still arrived, cut to the buffer, as
  // elsewhere; one outsized datagram on the link must not end a test.
  if (received == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE) return capacity;
  return received;
}

int selectReadable(NativeSocket handle, std::int32_t timeOutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(handle, &readable);
  timeval limit{timeOutMs / 1000, (timeOutMs % 1000) * 1000};
  // Winsock ignores the first argument; it is there for Berkeley compatibility.
  return ::select(0, &readable, nullptr, nullptr, timeOutMs == -1 ? nullptr : &limit);
}

int setOption(NativeSocket handle, int level, int option, const void* value, int length) {
  return ::setsockopt(handle, level, option, static_cast<const char*>(value), length);
}

// A Winsock socket bound to an interface's address already belongs to it.
int bindToDevice(NativeSocket /*handle*/, const std::string& /*interfaceName*/) { return 0; }

int hostName(std::span<char> buffer) {
  if (buffer.empty()) return -1;
  buffer.back() = '\0';
  return ::gethostname(buffer.data(), static_cast<int>(buffer.size() - 1));
}

}  // namespace os

// Winsock closes at once; nothing waits on a grace period there.
void UniqueSocket::reset() noexcept {
  const NativeSocket handle = std::exchange(handle_, kInvalidSocket);
  if (handle != kInvalidSocket) ::closesocket(handle);
}

}  // namespace net
