// The link captures of a run. On Linux a capture is libpcap's ring on a
// packet socket, and the kernel waits out a grace period (15 ms measured) to
// set the ring up and two to tear it down: a run keeps one ring per
// interface, opens it before the pass needs it, off the tests' time, and
// lends it to one capture at a time, each under its own filter. Elsewhere a
// capture is a socket of its own and this holds nothing.
#pragma once

#include <memory>

#include "net/interfaces.h"

namespace net {

class LinkCaptures {
 public:
  LinkCaptures();
  ~LinkCaptures();
  LinkCaptures(const LinkCaptures&) = delete;
  LinkCaptures& operator=(const LinkCaptures&) = delete;
  LinkCaptures(LinkCaptures&&) = delete;
  LinkCaptures& operator=(LinkCaptures&&) = delete;

  // Opens a ring on `link` in the background, unless one is there or on its
  // way; one on another interface is closed. Failures are left for the
  // capture that needs the ring to meet and report.
  void prepare(const LinkInterface& link);

  // The platform's own state, for RawSocket::captureLink.
  struct Rings;
  [[nodiscard]] const std::shared_ptr<Rings>& rings() const { return rings_; }

 private:
  // Shared with the background jobs, which may outlive this.
  std::shared_ptr<Rings> rings_;
};

}  // namespace net
