#include "net/farewell.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace net {

namespace {

// A leave, a BLOCK and a goodbye are at most a few dozen bytes; at most one
// is owed at a time, more places only spare a race with the next test.
constexpr std::size_t kLongestMessage = 128;
constexpr std::size_t kPlaces = 4;

struct Place {
  // Written by the main thread only; read by the handler once `armed` is set.
  bool taken = false;
  NativeSocket handle = -1;
  std::array<std::uint8_t, kLongestMessage> message{};
  std::size_t length = 0;
  SocketAddress destination;
  std::atomic<bool> armed{false};
};

std::array<Place, kPlaces> places;

std::array<char, PATH_MAX> removalPath{};
std::atomic<bool> removalArmed{false};

static_assert(std::atomic<bool>::is_always_lock_free, "the handler reads these flags");

extern "C" void settleThenEnd(int signalNumber) {
  const int saved = errno;
  settlePending();
  // Ended by the signal itself, as without this handler.
  ::signal(signalNumber, SIG_DFL);
  sigset_t only;
  ::sigemptyset(&only);
  ::sigaddset(&only, signalNumber);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signalNumber);
  errno = saved;
}

}  // namespace

void PendingFarewell::arm(NativeSocket handle, std::span<const std::uint8_t> message,
                          const SocketAddress& destination) noexcept {
  disarm();
  if (message.size() > kLongestMessage) return;
  for (std::size_t i = 0; i < places.size(); ++i) {
    Place& place = places[i];
    if (place.taken) continue;
    place.taken = true;
    place.handle = handle;
    std::memcpy(place.message.data(), message.data(), message.size());
    place.length = message.size();
    place.destination = destination;
    place.armed.store(true, std::memory_order_release);
    slot_ = static_cast<int>(i);
    return;
  }
}

void PendingFarewell::disarm() noexcept {
  if (slot_ < 0) return;
  Place& place = places[static_cast<std::size_t>(slot_)];
  place.armed.store(false, std::memory_order_release);
  place.taken = false;
  slot_ = -1;
}

PendingRemoval::PendingRemoval(const std::string& path) noexcept {
  if (path.size() >= removalPath.size() || removalArmed.load()) return;
  std::memcpy(removalPath.data(), path.c_str(), path.size() + 1);
  removalArmed.store(true, std::memory_order_release);
  armed_ = true;
}

void PendingRemoval::disarm() noexcept {
  if (armed_) removalArmed.store(false, std::memory_order_release);
  armed_ = false;
}

void settlePending() noexcept {
  for (Place& place : places) {
    if (!place.armed.load(std::memory_order_acquire)) continue;
    ::sendto(place.handle, place.message.data(), place.length, 0, place.destination.get(),
             place.destination.length);
  }
  if (removalArmed.load(std::memory_order_acquire)) ::unlink(removalPath.data());
}

void settleOnInterrupt() {
  for (const int signalNumber : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    if (::sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = settleThenEnd;
    ::sigemptyset(&action.sa_mask);
    // Neither signal interrupts the other's settling.
    ::sigaddset(&action.sa_mask, SIGINT);
    ::sigaddset(&action.sa_mask, SIGTERM);
    ::sigaction(signalNumber, &action, nullptr);
  }
}

}  // namespace net
