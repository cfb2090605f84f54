// The IPv6 link capture on Linux: a packet socket on the bound interface that
// hands over each inbound IPv6 datagram its program keeps, header first.
#include "net/linux/ipv6_capture.h"

#include "net/linux/capture_programs.h"
#include "net/linux/packet_capture.h"
#include "net/unique_socket.h"

namespace net {

UniqueSocket openIpv6Capture(const Address& address, unsigned int knownIndex,
                             const CaptureRequest& request) {
  const unsigned int interfaceIndex =
      knownIndex != 0 ? knownIndex : captureInterfaceOf(address).index;
  return openPacketCapture(interfaceIndex, Family::V6, linux_if::ipv6CaptureProgramFor(request));
}

}  // namespace net
