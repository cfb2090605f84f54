// The IPv6 link capture on Linux: a packet socket on the bound interface that
// hands over each inbound IPv6 datagram its program keeps, header first.
#include "net/linux/ipv6_capture.h"

#include <cerrno>

#include "net/interfaces.h"
#include "net/linux/capture_operation.h"
#include "net/linux/capture_programs.h"
#include "net/linux/packet_capture.h"
#include "net/socket_exceptions.h"
#include "net/unique_socket.h"

namespace net {

namespace {

// Winsock's name for the call that switches a receive-all mode on: the
// report names a capture failure the same way on every platform.
constexpr const char* kOperation = linux_capture::kCaptureOperation;

unsigned int interfaceIndexOf(const Address& address) {
  const Family family = address.family();
  std::vector<HostInterface> interfaces;
  try {
    interfaces = hostInterfaces();
  } catch (const CV_SocketException& failure) {
    throw CV_SocketException(failure.errorCode, kOperation);
  }
  for (const HostInterface& candidate : interfaces) {
    if (holds(candidate, family) && candidate.address.withScope(0) == address.withScope(0) &&
        candidate.index != 0) {
      return candidate.index;
    }
  }
  // Only a socket bound to one interface's own address can be captured for.
  throw CV_SocketException(EADDRNOTAVAIL, kOperation);
}

}  // namespace

UniqueSocket openIpv6Capture(const Address& address, unsigned int knownIndex,
                             const CaptureRequest& request) {
  const unsigned int interfaceIndex = knownIndex != 0 ? knownIndex : interfaceIndexOf(address);
  return openPacketCapture(interfaceIndex, Family::V6, linux_if::ipv6CaptureProgramFor(request));
}

}  // namespace net
