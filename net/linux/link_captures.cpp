// Link captures on Linux: libpcap's rings, one kept per interface for the
// run and lent to one capture at a time.
#include "net/capture/link_captures.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>

#include "net/background.h"
#include "net/capture/capture_filter.h"
#include "net/capture/capture_session.h"
#include "net/linux/pcap_ring.h"

namespace net {

using linux_capture::Pcap;

// The ring nobody reads, or the one on its way, for one interface.
struct LinkCaptures::Rings {
  std::mutex lock;
  std::condition_variable changed;
  // The interface the rings below are for, by name and index: a name
  // recreated (a VPN, a bond, a USB NIC) has a new index, and a ring bound
  // to the old one would hear nothing.
  std::string interfaceName;
  unsigned int interfaceIndex = 0;
  // Open, keeping nothing, until a capture borrows it.
  Pcap idle;
  // Being opened, or given back, in the background.
  int coming = 0;
  // Between passes no ring is kept: it would hold the interface in
  // all-multicast mode while the tool waits at its prompt.
  bool keeping = true;

  [[nodiscard]] bool isFor(const std::string& name, unsigned int index) const {
    return interfaceName == name && interfaceIndex == index;
  }

  // Keeps `ring` for `name` if none is kept (a ring opened for a link that
  // no pass prepared is kept too); else it closes.
  void keep(Pcap ring, const std::string& name, unsigned int index) {
    const std::lock_guard<std::mutex> hold(lock);
    if (!keeping || idle || (!interfaceName.empty() && !isFor(name, index))) return;
    interfaceName = name;
    interfaceIndex = index;
    idle = std::move(ring);
  }

  void arrived() {
    {
      const std::lock_guard<std::mutex> hold(lock);
      --coming;
    }
    changed.notify_all();
  }
};

LinkCaptures::LinkCaptures() : rings_(std::make_shared<Rings>()) {}

LinkCaptures::~LinkCaptures() = default;

void LinkCaptures::release() {
  Pcap closing;
  const std::lock_guard<std::mutex> hold(rings_->lock);
  rings_->keeping = false;
  closing = std::move(rings_->idle);
}

void LinkCaptures::prepare(const LinkInterface& link) {
  if (link.index == 0 || link.name.empty()) return;
  Pcap stale;
  {
    const std::lock_guard<std::mutex> hold(rings_->lock);
    rings_->keeping = true;
    const bool same = rings_->isFor(link.name, link.index);
    if (same && (rings_->idle || rings_->coming > 0)) return;
    if (!same) stale = std::move(rings_->idle);
    rings_->interfaceName = link.name;
    rings_->interfaceIndex = link.index;
    ++rings_->coming;
  }
  const bool handed = runInBackground([rings = rings_, name = link.name, index = link.index] {
    try {
      rings->keep(linux_capture::openRing(name, index), name, index);
    } catch (...) {
      // The capture that needs the ring opens it itself and reports the failure.
    }
    rings->arrived();
  });
  if (!handed) rings_->arrived();
}

namespace {

// At a deadline, how long a capture waits at most for frames the kernel still
// holds: twice the block timeout, as a jiffies timer may take, and 1 ms to wake.
constexpr std::chrono::milliseconds kOwedWait{2 * linux_capture::kBlockTimeoutMs + 1};

// A ring lent to one capture, with that capture's filter; given back, made to
// keep nothing, in the background when the capture ends.
class LentRing final : public DatagramSource {
 public:
  LentRing(std::shared_ptr<LinkCaptures::Rings> rings, std::string interfaceName,
           unsigned int interfaceIndex, Pcap ring, const CaptureRequest& request,
           const Address& ownAddress)
      : rings_(std::move(rings)),
        interfaceName_(std::move(interfaceName)),
        interfaceIndex_(interfaceIndex),
        ring_(std::move(ring)),
        frames_(ring_.get()),
        session_(startSession(request, ownAddress)) {}

  ~LentRing() override {
    {
      const std::lock_guard<std::mutex> hold(rings_->lock);
      ++rings_->coming;
    }
    pcap_t* const ring = ring_.release();
    const bool handed =
        runInBackground([rings = rings_, name = interfaceName_, index = interfaceIndex_, ring] {
          Pcap owned(ring);
          try {
            linux_capture::keepOnly(owned.get(), kKeepNothing);
            rings->keep(std::move(owned), name, index);
          } catch (...) {
            // A ring that cannot be made idle is closed.
          }
          rings->arrived();
        });
    if (!handed) {
      const Pcap closing(ring);
      rings_->arrived();
    }
  }
  LentRing(const LentRing&) = delete;
  LentRing& operator=(const LentRing&) = delete;
  LentRing(LentRing&&) = delete;
  LentRing& operator=(LentRing&&) = delete;

  [[nodiscard]] NativeSocket waitHandle() const override { return session_.waitHandle(); }
  [[nodiscard]] bool holdsDatagram(TimePoint end) const override {
    return session_.holdsDatagram(end);
  }
  AfterDatagram readNow(const DatagramHandler& onDatagram, TimePoint end) override {
    return session_.readNow(onDatagram, end);
  }
  void readOwed(const DatagramHandler& onDatagram, TimePoint end) override {
    session_.readOwed(onDatagram, end);
  }

 private:
  CaptureSession startSession(const CaptureRequest& request, const Address& ownAddress) {
    // What the ring holds from before this moment is not this capture's.
    const auto began = std::chrono::system_clock::now();
    const std::uint32_t queuedBefore = frames_.framesQueued();
    // Set at every capture, with its filter: no capture depends on what an
    // earlier one left on the ring.
    linux_capture::keepOutOwnFrames(ring_.get());
    linux_capture::keepOnly(ring_.get(),
                            captureFilter(expressionFromIpHeader(request), ownAddress));
    return CaptureSession(frames_, request.family, ownAddress, began, queuedBefore, kOwedWait);
  }

  std::shared_ptr<LinkCaptures::Rings> rings_;
  std::string interfaceName_;
  unsigned int interfaceIndex_;
  Pcap ring_;
  linux_capture::PcapFrames frames_;
  CaptureSession session_;
};

// The ring kept for `link`, or one on its way; else a new one, opened now.
Pcap borrowRing(LinkCaptures::Rings& rings, const LinkInterface& link) {
  {
    std::unique_lock<std::mutex> hold(rings.lock);
    rings.changed.wait(hold, [&] {
      return rings.idle || rings.coming == 0 || !rings.isFor(link.name, link.index);
    });
    if (rings.idle && rings.isFor(link.name, link.index)) return std::move(rings.idle);
  }
  return linux_capture::openRing(link.name, link.index);
}

}  // namespace

std::unique_ptr<DatagramSource> LinkCaptures::open(const LinkInterface& link,
                                                   const CaptureRequest& request,
                                                   const Address& ownAddress) {
  return std::make_unique<LentRing>(rings_, link.name, link.index, borrowRing(*rings_, link),
                                    request, ownAddress);
}

}  // namespace net
