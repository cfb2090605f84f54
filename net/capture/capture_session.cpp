#include "net/capture/capture_session.h"

#include <algorithm>

#include "net/packet/ip_datagram.h"
#include "net/packet/link_layer.h"
#include "net/socket.h"

namespace net {

namespace {

using SteadyDuration = std::chrono::steady_clock::duration;

class MachineClocks final : public CaptureClock {
 public:
  [[nodiscard]] ClockReading now() const override {
    return {std::chrono::steady_clock::now(), std::chrono::system_clock::now()};
  }
};

// A system-clock moment on the steady clock, by one reading of both.
DatagramSource::TimePoint onSteadyClock(SystemTime when, const ClockReading& now) {
  return now.steady - std::chrono::duration_cast<SteadyDuration>(now.system - when);
}

}  // namespace

const CaptureClock& machineClocks() {
  static const MachineClocks clocks;
  return clocks;
}

CaptureSession::CaptureSession(FrameRing& ring, Family family, const Address& ownAddress,
                               SystemTime began, std::uint32_t queuedBefore,
                               std::chrono::milliseconds owedWait, const CaptureClock& clock)
    : ring_(ring),
      family_(family),
      ownAddress_(ownAddress),
      clock_(clock),
      began_(began),
      beganSteady_(onSteadyClock(began, clock.now())),
      lastArrival_(beganSteady_),
      queuedBefore_(queuedBefore),
      owedWait_(owedWait) {}

bool CaptureSession::holdsDatagram(TimePoint end) const { return held_ && held_->arrival <= end; }

AfterDatagram CaptureSession::readNow(const DatagramHandler& onDatagram, TimePoint end) {
  if (held_) {
    // The ring's later frames wait behind it.
    if (held_->arrival > end) return AfterDatagram::KeepListening;
    const Held held = std::move(*held_);
    held_.reset();
    const ReceivedDatagram datagram{held.bytes, held.sender, held.arrival};
    if (onDatagram(datagram) == AfterDatagram::StopListening) {
      return AfterDatagram::StopListening;
    }
  }
  return takeFromRing(onDatagram, end);
}

AfterDatagram CaptureSession::takeFromRing(const DatagramHandler& onDatagram, TimePoint end) {
  // The kernel stamps frames on the system clock; the loop keeps time on the
  // steady one. One reading of both serves the whole batch: a frame read now
  // came a short while ago, so only a step between its stamp and this
  // reading can mislead, and the bounds below take care of that.
  const ClockReading now = clock_.now();
  const int linkType = ring_.linkType();
  AfterDatagram after = AfterDatagram::KeepListening;
  ring_.takeFrames([&](const CapturedFrame& frame) {
    // Nothing arrives after it is read: a clock stepped back would otherwise
    // make a frame wait as a future one while the loop spins on the ring.
    TimePoint arrival = std::min(onSteadyClock(frame.stamp, now), now.steady);
    // From before the capture on both clocks: after a step back a new frame
    // is stamped before `began_`, after a step forward it may convert to
    // before `beganSteady_`, but it is never both. (An old frame read only
    // after a step back is taken as new: the ring hands old ones over first.)
    if (!ownFrameSeen_ && frame.stamp < began_ && arrival < beganSteady_) return true;
    ownFrameSeen_ = true;
    // A step forward between a frame's stamp and this reading puts it early.
    arrival = std::max(arrival, lastArrival_);
    lastArrival_ = arrival;
    ++taken_;
    auto bytes = ipDatagramOf(linkType, frame.bytes);
    if (!bytes) return true;
    // As on a socket: what is longer than the receive buffer arrives cut to it.
    bytes = bytes->first(std::min(bytes->size(), kReceiveBufferSize));
    // The reader parses the datagram whole; here only its sender counts.
    const auto source = sourceOf(*bytes);
    const Endpoint sender{source ? *source : anyAddress(family_), 0};
    if (sender.address == ownAddress_) return true;
    if (arrival > end) {
      held_ = Held{std::vector<std::uint8_t>(bytes->begin(), bytes->end()), sender, arrival};
      return false;
    }
    after = onDatagram(ReceivedDatagram{*bytes, sender, arrival});
    return after == AfterDatagram::KeepListening;
  });
  return after;
}

bool CaptureSession::owesFrames() {
  // Nothing is owed once a frame from after the deadline was read: the ring
  // hands frames over in the order they came.
  if (held_) return false;
  // Unsigned: the kernel's count may wrap during a long run.
  const std::uint32_t queued = ring_.framesQueued() - queuedBefore_;
  return queued > taken_;
}

void CaptureSession::readOwed(const DatagramHandler& onDatagram, TimePoint end) {
  if (!owesFrames()) return;
  Deadline bound(static_cast<std::int32_t>(owedWait_.count()));
  do {
    const int ready = bound.waitReadable(ring_.waitHandle());
    if (ready == -1) throwSocketError("select");
    if (ready == 0) return;
    if (readNow(onDatagram, end) == AfterDatagram::StopListening) return;
  } while (owesFrames());
}

}  // namespace net
