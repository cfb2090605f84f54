// The IPv6 link capture on Linux, a packet socket of its own under a program
// that walks extension headers (linux/capture_programs.h).
#pragma once

#include "net/address.h"
#include "net/capture/capture_request.h"
#include "net/unique_socket.h"

namespace net {

// A capture of what reaches the interface with `knownIndex` (or, when 0, the
// one holding `address`) of what `request` describes (MLD queries, PIM
// messages), datagrams IPv6 header first. Throws
// CV_SocketException(kCaptureOperation).
UniqueSocket openIpv6Capture(const Address& address, unsigned int knownIndex,
                             const CaptureRequest& request);

}  // namespace net
