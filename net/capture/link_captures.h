// The link captures of a run. On Linux a capture is libpcap's ring on a
// packet socket, and the kernel waits out a grace period (15 ms measured) to
// set the ring up and two to tear it down: a run keeps one ring per
// interface, opens it before the pass needs it, off the tests' time, and
// lends it to one capture at a time, each under its own filter. Elsewhere a
// capture is a socket of its own and this holds nothing.
#pragma once

#include <memory>

#include "net/address.h"
#include "net/capture/capture_request.h"
#include "net/datagram_source.h"
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
  // The pass is over: the kept ring closes, and rings given back from now on
  // close too, until the next prepare.
  void release();

  // A capture of what reaches `link` for any host or group that keeps in
  // the kernel only what `request` describes, and never what `ownAddress`
  // sent; read with listenOn. Linux only: on Windows a capture is a raw
  // socket's receive-all mode, and this throws
  // CV_SocketException(WSAEOPNOTSUPP). Else throws CV_SocketException("WSAIoctl").
  std::unique_ptr<DatagramSource> open(const LinkInterface& link, const CaptureRequest& request,
                                       const Address& ownAddress);

  struct Rings;

 private:
  // Shared with the background jobs, which may outlive this.
  std::shared_ptr<Rings> rings_;
};

}  // namespace net
