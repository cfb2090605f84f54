// A capture read the way the kernel's TPACKET_V3 ring hands frames over: in
// blocks, some time after they arrived. A scripted ring stands in for it.
#include "net/capture/capture_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "net/packet/link_layer.h"
#include "tests/unit/datagram_builder.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

const net::Address kOwn = net::Address::v4(0x0A000102U);  // 10.0.1.2

// Frames the kernel has put in the ring (counted at once) and those it has
// handed over (readable, in order). Retiring may happen on another thread.
class ScriptedRing final : public net::FrameRing {
 public:
  ScriptedRing() {
    if (::pipe2(signal_, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
  }
  ~ScriptedRing() override {
    ::close(signal_[0]);
    ::close(signal_[1]);
  }

  // A frame arrives `ago` before now, from `source`, into the open block.
  void arrive(std::chrono::milliseconds ago, std::vector<std::uint8_t> source = {10, 0, 1, 1}) {
    const std::lock_guard<std::mutex> hold(lock_);
    Bytes frame{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x00};
    const Bytes datagram =
        testing_support::ipv4Datagram(2, {0x11, 100, 0, 0, 0, 0, 0, 0}, 0, std::move(source));
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    open_.push_back(Frame{std::move(frame), std::chrono::system_clock::now() - ago});
    ++queued_;
  }
  // A frame the kernel stamped `stamp`, from 10.0.1.1.
  void arriveStamped(net::SystemTime stamp) {
    arrive(0ms);
    const std::lock_guard<std::mutex> hold(lock_);
    open_.back().stamp = stamp;
  }
  // A frame of no network protocol the readers know (ARP).
  void arriveNotIp() {
    const std::lock_guard<std::mutex> hold(lock_);
    open_.push_back(Frame{Bytes(42, 0), std::chrono::system_clock::now()});
    ++queued_;
  }
  // The open block is handed over.
  void retire() {
    const std::lock_guard<std::mutex> hold(lock_);
    for (Frame& frame : open_) handed_.push_back(std::move(frame));
    open_.clear();
    const char one = 1;
    if (::write(signal_[1], &one, 1) != 1) throw std::runtime_error("write");
  }

  [[nodiscard]] net::NativeSocket waitHandle() const override {
    ++waits_;
    return signal_[0];
  }
  [[nodiscard]] int linkType() const override { return static_cast<int>(net::LinkType::Ethernet); }
  void takeFrames(const net::FrameVisitor& onFrame) override {
    const std::lock_guard<std::mutex> hold(lock_);
    while (!handed_.empty()) {
      const Frame frame = std::move(handed_.front());
      handed_.pop_front();
      if (!onFrame(net::CapturedFrame{frame.bytes, frame.stamp})) break;
    }
    if (handed_.empty()) {
      char drained = 0;
      while (::read(signal_[0], &drained, 1) == 1) {
      }
    }
  }
  std::uint32_t framesQueued() override {
    const std::lock_guard<std::mutex> hold(lock_);
    return queued_;
  }

  // How often the session asked what to wait on: it waits only where it asks.
  [[nodiscard]] int waits() const { return waits_; }

 private:
  struct Frame {
    Bytes bytes;
    net::SystemTime stamp;
  };
  std::mutex lock_;
  std::deque<Frame> open_;
  std::deque<Frame> handed_;
  std::uint32_t queued_ = 0;
  int signal_[2]{-1, -1};
  mutable int waits_ = 0;
};

// The arrival times of what a session handed over.
struct Heard {
  std::vector<Clock::time_point> arrivals;
  net::DatagramHandler handler() {
    return [this](const net::ReceivedDatagram& datagram) {
      arrivals.push_back(datagram.arrival);
      return net::AfterDatagram::KeepListening;
    };
  }
};

// A capture that began a second ago, when the ring had queued what it holds
// now. Owed frames are waited for up to 10 s: long enough for any machine.
net::CaptureSession sessionOn(ScriptedRing& ring,
                              net::SystemTime began = std::chrono::system_clock::now() - 1s) {
  return net::CaptureSession(ring, net::Family::V4, kOwn, began, ring.framesQueued(), 10s);
}

TEST(CaptureSession, FramesFromBeforeTheCaptureBeganAreNotItsOwn) {
  ScriptedRing ring;
  const auto began = std::chrono::system_clock::now();
  ring.arrive(50ms);
  net::CaptureSession session = sessionOn(ring, began);
  ring.retire();
  ring.arrive(0ms);
  ring.retire();
  Heard heard;
  session.readNow(heard.handler(), Clock::now() + 1s);
  EXPECT_EQ(heard.arrivals.size(), 1U);
}

TEST(CaptureSession, AFrameFromAfterTheWindowWaitsForTheNextOne) {
  ScriptedRing ring;
  net::CaptureSession session = sessionOn(ring);
  const auto windowEnd = Clock::now() - 20ms;
  ring.arrive(30ms);
  ring.arrive(10ms);
  ring.arrive(5ms);
  ring.retire();
  Heard heard;
  EXPECT_EQ(session.readNow(heard.handler(), windowEnd), net::AfterDatagram::KeepListening);
  ASSERT_EQ(heard.arrivals.size(), 1U);
  EXPECT_LE(heard.arrivals[0], windowEnd);
  // Not this window's...
  EXPECT_FALSE(session.holdsDatagram(windowEnd));
  session.readNow(heard.handler(), windowEnd);
  EXPECT_EQ(heard.arrivals.size(), 1U);
  // ...but the next one's, in the order they came.
  const auto nextEnd = Clock::now() + 1s;
  EXPECT_TRUE(session.holdsDatagram(nextEnd));
  session.readNow(heard.handler(), nextEnd);
  ASSERT_EQ(heard.arrivals.size(), 3U);
  EXPECT_LT(heard.arrivals[1], heard.arrivals[2]);
  EXPECT_GT(heard.arrivals[1], windowEnd);
}

TEST(CaptureSession, ArrivalIsWhenTheKernelTookTheFrameNotWhenItWasRead) {
  ScriptedRing ring;
  net::CaptureSession session = sessionOn(ring);
  ring.arrive(0ms);
  const auto afterArrival = Clock::now();
  std::this_thread::sleep_for(20ms);
  ring.retire();
  Heard heard;
  session.readNow(heard.handler(), Clock::now());
  ASSERT_EQ(heard.arrivals.size(), 1U);
  EXPECT_LE(heard.arrivals[0], afterArrival);
}

TEST(CaptureSession, AFrameStillInTheKernelsBlockAtTheDeadlineIsWaitedFor) {
  ScriptedRing ring;
  net::CaptureSession session = sessionOn(ring);
  ring.arrive(1ms);
  const auto deadline = Clock::now();
  // The kernel hands the block over a little later.
  std::thread kernel([&ring] {
    std::this_thread::sleep_for(5ms);
    ring.retire();
  });
  Heard heard;
  session.readOwed(heard.handler(), deadline);
  kernel.join();
  ASSERT_EQ(heard.arrivals.size(), 1U);
  EXPECT_LE(heard.arrivals[0], deadline);
}

TEST(CaptureSession, NothingOwedMeansNoWaitAtTheDeadline) {
  ScriptedRing ring;
  net::CaptureSession session = sessionOn(ring);
  ring.arrive(2ms);
  ring.arrive(1ms, {10, 0, 1, 2});  // the host's own
  ring.arriveNotIp();
  ring.retire();
  Heard heard;
  session.readNow(heard.handler(), Clock::now() + 1s);
  EXPECT_EQ(heard.arrivals.size(), 1U);
  const int waitsBefore = ring.waits();
  session.readOwed(heard.handler(), Clock::now());
  EXPECT_EQ(ring.waits(), waitsBefore) << "every frame the kernel queued was read";
}

TEST(CaptureSession, AFrameFromAfterTheDeadlineEndsTheWaitForOwedOnes) {
  ScriptedRing ring;
  net::CaptureSession session = sessionOn(ring);
  const auto deadline = Clock::now() - 10ms;
  ring.arrive(20ms);
  ring.arrive(5ms);
  ring.retire();
  // Queued after the deadline, never handed over during this test.
  ring.arrive(0ms);
  Heard heard;
  session.readOwed(heard.handler(), deadline);
  EXPECT_EQ(heard.arrivals.size(), 1U);
  EXPECT_TRUE(session.holdsDatagram(Clock::now() + 1s));
}

TEST(CaptureSession, AStopLeavesTheRestForTheNextRead) {
  ScriptedRing ring;
  net::CaptureSession session = sessionOn(ring);
  ring.arrive(3ms);
  ring.arrive(2ms);
  ring.arrive(1ms);
  ring.retire();
  int handed = 0;
  const auto stopAtFirst = [&handed](const net::ReceivedDatagram&) {
    ++handed;
    return net::AfterDatagram::StopListening;
  };
  EXPECT_EQ(session.readNow(stopAtFirst, Clock::now() + 1s), net::AfterDatagram::StopListening);
  EXPECT_EQ(handed, 1);
  Heard heard;
  session.readNow(heard.handler(), Clock::now() + 1s);
  EXPECT_EQ(heard.arrivals.size(), 2U);
}

// A system clock that the test moves and steps; the steady one moves with it.
class SteppedClocks final : public net::CaptureClock {
 public:
  [[nodiscard]] net::ClockReading now() const override { return reading; }
  void pass(std::chrono::milliseconds time) {
    reading.steady += time;
    reading.system += time;
  }
  void step(std::chrono::system_clock::duration by) { reading.system += by; }

  net::ClockReading reading{Clock::now(), std::chrono::system_clock::now()};
};

// NTP stepping the wall clock inside a window, back and then forward: every
// frame of the window is handed over once, at the moment it came on the
// steady clock or as close as the step lets anyone know, and none waits as
// a future one.
TEST(CaptureSession, AWallClockSteppedEitherWayInsideTheWindowLosesAndHoldsNothing) {
  for (const auto step :
       {-std::chrono::system_clock::duration(1h), std::chrono::system_clock::duration(1h)}) {
    ScriptedRing ring;
    SteppedClocks clocks;
    const auto start = clocks.reading.steady;
    const auto end = start + 1s;
    net::CaptureSession session(ring, net::Family::V4, kOwn, clocks.reading.system,
                                ring.framesQueued(), 10s, clocks);
    clocks.pass(10ms);
    ring.arriveStamped(clocks.reading.system);  // before the step, read before it
    ring.retire();
    Heard heard;
    session.readNow(heard.handler(), end);
    clocks.pass(10ms);
    ring.arriveStamped(clocks.reading.system);  // before the step, read after it
    clocks.pass(10ms);
    clocks.step(step);
    clocks.pass(10ms);
    ring.arriveStamped(clocks.reading.system);  // after the step
    clocks.pass(10ms);
    ring.retire();
    EXPECT_EQ(session.readNow(heard.handler(), end), net::AfterDatagram::KeepListening);

    ASSERT_EQ(heard.arrivals.size(), 3U) << "step " << step.count();
    EXPECT_FALSE(session.holdsDatagram(end + 1h));
    EXPECT_EQ(heard.arrivals[0], start + 10ms);
    // Which side of the step it was stamped on cannot be known: it is placed
    // between the frames around it, never after it was read.
    EXPECT_GE(heard.arrivals[1], heard.arrivals[0]);
    EXPECT_LE(heard.arrivals[1], start + 50ms);
    // After the step, stamps mean what they say again; arrivals never go back.
    EXPECT_GE(heard.arrivals[2], start + 40ms);
    EXPECT_GE(heard.arrivals[2], heard.arrivals[1]);
    EXPECT_LE(heard.arrivals[2], start + 50ms);
  }
}

// What the ring held from before still is not the capture's after a step.
TEST(CaptureSession, FramesFromBeforeTheCaptureStayOutAfterAStepForward) {
  ScriptedRing ring;
  SteppedClocks clocks;
  ring.arriveStamped(clocks.reading.system - 5ms);
  clocks.pass(10ms);
  net::CaptureSession session(ring, net::Family::V4, kOwn, clocks.reading.system,
                              ring.framesQueued(), 10s, clocks);
  clocks.step(1h);
  clocks.pass(10ms);
  ring.arriveStamped(clocks.reading.system);
  ring.retire();
  Heard heard;
  session.readNow(heard.handler(), clocks.reading.steady + 1s);
  ASSERT_EQ(heard.arrivals.size(), 1U);
  EXPECT_EQ(heard.arrivals[0], clocks.reading.steady);
}

TEST(CaptureSession, ListenOnHandsOverEveryFrameOfItsWindowAndOnlyThose) {
  ScriptedRing ring;
  net::CaptureSession session = sessionOn(ring);
  ring.arrive(0ms);
  ring.retire();
  Heard heard;
  const auto began = Clock::now();
  net::listenOn(session, 30, heard.handler());
  ASSERT_EQ(heard.arrivals.size(), 1U);
  EXPECT_LE(heard.arrivals[0], began);
  // A frame from after that window is the next window's.
  ring.arrive(0ms);
  ring.retire();
  net::listenOn(session, 30, heard.handler());
  EXPECT_EQ(heard.arrivals.size(), 2U);
}

}  // namespace
