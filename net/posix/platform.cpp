#include "net/platform.h"

#include <poll.h>
#include <signal.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "net/background.h"
#include "net/farewell.h"
#include "net/stop_request.h"
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

OneShotTimer::OneShotTimer(std::chrono::milliseconds fromNow)
    : handle_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC)) {
  if (handle_ == -1) return;
  const auto ms = std::max<std::int64_t>(fromNow.count(), 0);
  itimerspec arm{};
  arm.it_value.tv_sec = static_cast<time_t>(ms / 1000);
  arm.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  // An all-zero value would disarm it: the shortest timer fires at once.
  if (ms == 0) arm.it_value.tv_nsec = 1;
  if (::timerfd_settime(handle_, 0, &arm, nullptr) != 0) {
    ::close(handle_);
    handle_ = -1;
  }
}

OneShotTimer::~OneShotTimer() {
  // Don't retry close on EINTR: the descriptor is gone either way.
  if (handle_ != -1) ::close(handle_);
}

bool OneShotTimer::waitUntilFired() const {
  if (handle_ == -1) return false;
  std::uint64_t expirations = 0;
  // A signal may interrupt the read; the timer still fires when it fires.
  for (;;) {
    if (::read(handle_, &expirations, sizeof expirations) != -1) return true;
    if (errno != EINTR) return false;
  }
}

// A pause ends on a timer for the same reason a listening wait does:
// nanosleep() is allowed the thread's timer slack (50 us by default) on top of
// the machine's own wake-up latency; a timerfd has none.
void pauseMs(std::uint32_t milliseconds) {
  if (milliseconds == 0) return;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  {
    const OneShotTimer timer{std::chrono::milliseconds(milliseconds)};
    timer.waitUntilFired();
  }
  // Without a timer, or should the wait have failed, the pause still lasts
  // its whole length.
  std::this_thread::sleep_until(end);
}

namespace {

// Whole milliseconds from now until `end`, rounded up, for a wait that has
// only a millisecond timeout; 0 once it has passed.
int msUntil(std::chrono::steady_clock::time_point end) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(left.count(), 0));
}

std::chrono::milliseconds timerLength(std::int32_t fromNowMs) {
  return std::chrono::milliseconds(fromNowMs > 0 ? fromNowMs : 0);
}

}  // namespace

// The timer is armed after end_ was read, so it never fires before end_. A
// deadline that has passed already needs none.
Deadline::Deadline(std::int32_t fromNowMs)
    : end_(std::chrono::steady_clock::now() + timerLength(fromNowMs)),
      timer_(fromNowMs > 0 ? OneShotTimer(timerLength(fromNowMs)) : OneShotTimer()) {}

Deadline::~Deadline() = default;

bool Deadline::passed() const { return std::chrono::steady_clock::now() >= end_; }

int Deadline::waitReadable(NativeSocket handle) {
  if (passed()) return 0;
  if (!timer_.armed()) {
    pollfd entry{handle, POLLIN, 0};
    return ::poll(&entry, 1, msUntil(end_));
  }
  std::array<pollfd, 2> entries{{{handle, POLLIN, 0}, {timer_.handle(), POLLIN, 0}}};
  const int ready = ::poll(entries.data(), entries.size(), -1);
  if (ready == -1) return -1;
  // A datagram already queued is still read; the next wait sees the deadline.
  // An error is read too, so that the read reports it rather than the wait
  // ending the window early.
  return (entries[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0 ? 1 : 0;
}

std::uint32_t processId() { return static_cast<std::uint32_t>(::getpid()); }

const int kNoSuchDeviceError = ENODEV;

namespace {
// _exit is safe in a signal handler; nothing buffered is lost, because
// standard output is written line by line.
extern "C" void endAtOnce(int signalNumber) {
  settlePending();
  ::_exit(128 + signalNumber);
}
volatile sig_atomic_t stopAsked = 0;

extern "C" void askToStop(int signalNumber) {
  if (stopAsked != 0) endAtOnce(signalNumber);
  stopAsked = 1;
}
}  // namespace

void stopOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = askToStop;
  ::sigemptyset(&action.sa_mask);
  // No SA_RESTART: the wait the signal interrupts returns, and the work sees the request.
  for (const int signalNumber : {SIGINT, SIGTERM}) ::sigaction(signalNumber, &action, nullptr);
}

bool stopRequested() { return stopAsked != 0; }

bool outputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void endProcessOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = endAtOnce;
  ::sigemptyset(&action.sa_mask);
  for (const int signalNumber : {SIGINT, SIGTERM}) ::sigaction(signalNumber, &action, nullptr);
}

namespace os {

NativeSocket openSocket(int family, int type, int protocol) {
  return ::socket(family, type | SOCK_CLOEXEC, protocol);
}

int sendTo(NativeSocket handle, std::span<const std::uint8_t> message,
           const SocketAddress& destination) {
  return static_cast<int>(
      ::sendto(handle, message.data(), message.size(), 0, destination.get(), destination.length));
}

int recvFrom(NativeSocket handle, std::span<std::uint8_t> buffer, SocketAddress& source) {
  source.length = sizeof source.storage;
  return static_cast<int>(
      ::recvfrom(handle, buffer.data(), buffer.size(), 0, source.get(), &source.length));
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

namespace {

// Never destroyed, so the thread never outlives what it waits on.
class BackgroundWorker {
 public:
  static BackgroundWorker& instance() {
    static auto* const worker = new BackgroundWorker;
    return *worker;
  }

  bool hand(std::function<void()> job) noexcept {
    try {
      const std::lock_guard<std::mutex> hold(lock_);
      if (!started_) {
        std::thread([this] { workForEver(); }).detach();
        started_ = true;
      }
      pending_.push_back(std::move(job));
    } catch (...) {
      return false;
    }
    ready_.notify_one();
    return true;
  }

 private:
  BackgroundWorker() = default;

  [[noreturn]] void workForEver() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      ready_.wait(hold, [this] { return !pending_.empty(); });
      const std::function<void()> job = std::move(pending_.front());
      pending_.pop_front();
      hold.unlock();
      job();
      hold.lock();
    }
  }

  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> pending_;
  bool started_ = false;
};

}  // namespace

bool runInBackground(std::function<void()> job) noexcept {
  return BackgroundWorker::instance().hand(std::move(job));
}

void UniqueSocket::reset() noexcept {
  const NativeSocket handle = std::exchange(handle_, kInvalidSocket);
  if (handle == kInvalidSocket) return;
  // No thread to spare: close here and wait after all.
  if (closing_ == Closing::InBackground && runInBackground([handle] { ::close(handle); })) return;
  // Don't retry close on EINTR: the descriptor is gone either way.
  ::close(handle);
}

}  // namespace net
