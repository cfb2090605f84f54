// Reading a link capture that the kernel hands over in batches (libpcap's
// TPACKET_V3 ring: a block of frames at a time, when it fills or when the
// ring's block timeout passes) under the listening loop's deadline rules: a
// datagram that arrived by a window's deadline is handed over in that window,
// one that arrived after it in the next.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "net/address.h"
#include "net/datagram_source.h"

namespace net {

using SystemTime = std::chrono::system_clock::time_point;

// One frame as a capture hands it over.
struct CapturedFrame {
  // From the link header on.
  std::span<const std::uint8_t> bytes;
  // When the kernel received it, on the system clock.
  SystemTime stamp;
};

// The kernel stamps frames on the system clock, which an administrator or NTP
// may step at any moment; windows run on the steady clock. A session reads
// both through this, which tests replace to step the system clock.
struct ClockReading {
  std::chrono::steady_clock::time_point steady;
  SystemTime system;
};
class CaptureClock {
 public:
  CaptureClock() = default;
  virtual ~CaptureClock() = default;
  CaptureClock(const CaptureClock&) = delete;
  CaptureClock& operator=(const CaptureClock&) = delete;
  CaptureClock(CaptureClock&&) = delete;
  CaptureClock& operator=(CaptureClock&&) = delete;

  [[nodiscard]] virtual ClockReading now() const = 0;
};
// The machine's own clocks.
const CaptureClock& machineClocks();

// Returns false to stop after this frame; the frames after it stay.
using FrameVisitor = std::function<bool(const CapturedFrame&)>;

// What a capture reads from: libpcap's ring on Linux, a script in the tests.
class FrameRing {
 public:
  FrameRing() = default;
  virtual ~FrameRing() = default;
  FrameRing(const FrameRing&) = delete;
  FrameRing& operator=(const FrameRing&) = delete;
  FrameRing(FrameRing&&) = delete;
  FrameRing& operator=(FrameRing&&) = delete;

  // Readable once the kernel has handed frames over.
  [[nodiscard]] virtual NativeSocket waitHandle() const = 0;
  // libpcap's number for the frames' link type.
  [[nodiscard]] virtual int linkType() const = 0;
  // Hands `onFrame` every frame handed over so far, in order, without
  // waiting. Throws CV_SocketException("recvFrom").
  virtual void takeFrames(const FrameVisitor& onFrame) = 0;
  // How many frames the kernel has queued in the ring since it opened,
  // handed over or not, modulo 2^32. Throws CV_SocketException("recvFrom").
  virtual std::uint32_t framesQueued() = 0;
};

class CaptureSession final : public DatagramSource {
 public:
  // Reads `ring` for one capture that began at `began` (on the system clock,
  // read just before) when the ring had queued `queuedBefore` frames: older
  // frames, left from before, are never handed over, nor is what `ownAddress`
  // sent. At a deadline it waits at most `owedWait` for frames the kernel
  // still holds.
  CaptureSession(FrameRing& ring, Family family, const Address& ownAddress, SystemTime began,
                 std::uint32_t queuedBefore, std::chrono::milliseconds owedWait,
                 const CaptureClock& clock = machineClocks());

  [[nodiscard]] NativeSocket waitHandle() const override { return ring_.waitHandle(); }
  [[nodiscard]] bool holdsDatagram(TimePoint end) const override;
  AfterDatagram readNow(const DatagramHandler& onDatagram, TimePoint end) override;
  // Frames the kernel queued before `end` sit in a block it has not handed
  // over yet; it does within the ring's block timeout. Waits for them while
  // the kernel's count says some are owed, up to owedWait.
  void readOwed(const DatagramHandler& onDatagram, TimePoint end) override;

 private:
  // A datagram read after the window it arrived in had ended: the next
  // window's.
  struct Held {
    std::vector<std::uint8_t> bytes;
    Endpoint sender;
    TimePoint arrival;
  };

  AfterDatagram takeFromRing(const DatagramHandler& onDatagram, TimePoint end);
  [[nodiscard]] bool owesFrames();

  FrameRing& ring_;
  Family family_;
  Address ownAddress_;
  const CaptureClock& clock_;
  SystemTime began_;
  // The same moment on the steady clock.
  TimePoint beganSteady_;
  // A frame of this capture was seen: the ring hands frames over in the
  // order they came, so none after it is from before.
  bool ownFrameSeen_ = false;
  // The arrival given to the last frame: arrivals never go back.
  TimePoint lastArrival_;
  std::uint32_t queuedBefore_;
  std::chrono::milliseconds owedWait_;
  // Frames of this capture taken from the ring, handed over or not.
  std::uint32_t taken_ = 0;
  std::optional<Held> held_;
};

}  // namespace net
