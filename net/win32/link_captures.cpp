// Windows captures are sockets of the probes' own (win32/socket.cpp):
// nothing to keep between them.
#include "net/capture/link_captures.h"

#include "net/capture/link_capture.h"
#include "net/platform.h"
#include "net/socket_exceptions.h"

namespace net {

struct LinkCaptures::Rings {};

LinkCaptures::LinkCaptures() : rings_(std::make_shared<Rings>()) {}

LinkCaptures::~LinkCaptures() = default;

void LinkCaptures::prepare(const LinkInterface& /*link*/) {}

void LinkCaptures::release() {}

std::unique_ptr<DatagramSource> LinkCaptures::open(const LinkInterface& /*link*/,
                                                   const CaptureRequest& /*request*/,
                                                   const Address& /*ownAddress*/) {
  throw CV_SocketException(WSAEOPNOTSUPP, "WSAIoctl");
}

// Capturing one beacon's datagrams would take the all-traffic mode of a
// second socket for the whole test; the diagnosis does without it here.
std::unique_ptr<ProbeSocket> openBeaconCapture(const CaptureRequest& /*request*/,
                                               const PassLink& /*link*/) {
  return nullptr;
}

}  // namespace net
