// When a pass began and how long it took, as the machine-read outputs tell it.
#pragma once

#include <chrono>
#include <cstdint>

struct PassTiming {
  std::chrono::system_clock::time_point start;
  std::uint32_t durationMs = 0;
};

// The wall clock names the start for readers; the length comes from the
// monotonic clock, which a clock step during the pass cannot bend.
class PassClock {
 public:
  PassClock() { restart(); }

  void restart() {
    start_ = std::chrono::system_clock::now();
    startTick_ = std::chrono::steady_clock::now();
  }

  [[nodiscard]] PassTiming timing() const {
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - startTick_);
    return PassTiming{start_, static_cast<std::uint32_t>(took.count())};
  }

 private:
  std::chrono::system_clock::time_point start_;
  std::chrono::steady_clock::time_point startTick_;
};
