// Receive-all modes on Linux: a packet socket on the bound interface that
// hands over each inbound IPv4 or IPv6 datagram of one protocol, header first.
// All-multicast membership lets in queries for groups this host never joined.
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>

#include "net/capture_filter_linux.h"
#include "net/interfaces.h"
#include "net/link_capture.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"
#include "net/unique_socket.h"

// Older headers (before Linux 4.20) lack it; the value is the kernel's.
#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23
#endif

namespace net {

namespace {

// Winsock's name for the call that switches a receive-all mode on: the
// report names a capture failure the same way on every platform.
constexpr const char* kOperation = "WSAIoctl";

void setCaptureOption(NativeSocket capture, int level, int option, const void* value,
                      socklen_t length) {
  if (os::setOption(capture, level, option, value, static_cast<int>(length)) == -1) {
    throwSocketError(kOperation);
  }
}

void attachFilter(NativeSocket socket, std::vector<sock_filter> program) {
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  setCaptureOption(socket, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter);
}

Address boundAddressOf(NativeSocket boundSocket) {
  SocketAddress bound;
  if (os::localAddressOf(boundSocket, bound) == -1) throwSocketError(kOperation);
  return endpointOf(bound).address;
}

int interfaceIndexOf(const Address& address) {
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
      return static_cast<int>(candidate.index);
    }
  }
  // Only a socket bound to one interface's own address can be captured for.
  throw CV_SocketException(EADDRNOTAVAIL, kOperation);
}

// A packet socket on the interface with `interfaceIndex` that queues what
// `program` keeps of its inbound traffic of `etherType` (ETH_P_IP,
// ETH_P_IPV6), multicast to any group included.
UniqueSocket openCapture(int interfaceIndex, std::vector<sock_filter> program,
                         std::uint16_t etherType = ETH_P_IP) {
  // Protocol 0 until bound: nothing is queued before the filter is in place.
  UniqueSocket capture(os::openSocket(AF_PACKET, SOCK_DGRAM, 0),
                       UniqueSocket::Closing::InBackground);
  if (!capture.valid()) throwSocketError(kOperation);

  // Only what a reader could count is copied out of the kernel.
  attachFilter(capture.get(), std::move(program));

  sockaddr_ll link;
  std::memset(&link, 0, sizeof link);
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(etherType);
  link.sll_ifindex = interfaceIndex;
  if (::bind(capture.get(), reinterpret_cast<const sockaddr*>(&link), sizeof link) == -1) {
    throwSocketError(kOperation);
  }

  packet_mreq allMulticast;
  std::memset(&allMulticast, 0, sizeof allMulticast);
  allMulticast.mr_ifindex = interfaceIndex;
  allMulticast.mr_type = PACKET_MR_ALLMULTI;
  setCaptureOption(capture.get(), SOL_PACKET, PACKET_ADD_MEMBERSHIP, &allMulticast,
                   sizeof allMulticast);

  // What this host sends itself is never evidence of a router. Kernels
  // before 4.20 refuse the option; the readers' own-source check then drops
  // those packets instead.
  const int ignore = 1;
  if (os::setOption(capture.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore) ==
          -1 &&
      lastSocketError() != ENOPROTOOPT) {
    throwSocketError(kOperation);
  }
  return capture;
}

// The IPv6 capture of MLD queries (next header 58) or PIM (103) on the
// interface: one place, so that its filter can change on its own.
UniqueSocket openIpv6Capture(int interfaceIndex, int nextHeader) {
  return openCapture(interfaceIndex, linux_if::ipv6CaptureProgramFor(nextHeader), ETH_P_IPV6);
}

// `knownIndex` is the interface the socket is tied to, when it is known;
// otherwise the interface is the one holding `address`.
UniqueSocket openProtocolCapture(const Address& address, unsigned int knownIndex, int ipProtocol) {
  const int interfaceIndex =
      knownIndex != 0 ? static_cast<int>(knownIndex) : interfaceIndexOf(address);
  if (!address.isV4()) return openIpv6Capture(interfaceIndex, ipProtocol);
  return openCapture(interfaceIndex, linux_if::captureProgramFor(ipProtocol));
}

// A socket that only reads a capture of its own.
class LinkCapture final : public Socket {
 public:
  LinkCapture(Family family, UniqueSocket capture) : Socket(family, std::move(capture)) {
    readCapturedDatagrams();
  }
};

}  // namespace

std::unique_ptr<ProbeSocket> openBeaconCapture(const Endpoint& groupAndPort,
                                               const std::optional<Address>& source,
                                               const PassLink& link) {
  const LinkInterface& chosen = requireLinkToBindTo(link);
  if (chosen.index == 0 || !groupAndPort.address.isV4()) return nullptr;
  std::optional<std::uint32_t> from;
  if (source) from = source->v4HostOrder();
  auto program =
      linux_if::beaconProgram(groupAndPort.address.v4HostOrder(), groupAndPort.port, from);
  return std::make_unique<LinkCapture>(
      Family::V4, openCapture(static_cast<int>(chosen.index), std::move(program)));
}

void RawSocket::enableReceiveAll() {
  // PIM of either family, or MLD: the capture carries the socket's own protocol.
  if (capturing()) return;
  const Address own = boundAddressOf(native());
  attachCapture(openProtocolCapture(own, linkIndex_, protocol_), own);
  // From now on only the capture is read: the raw socket itself only sends.
  attachFilter(native(), linux_if::dropAllProgram());
}

void RawSocket::enableReceiveAllIgmp() {
  if (capturing()) return;
  const Address own = boundAddressOf(native());
  attachCapture(openProtocolCapture(own, linkIndex_, IPPROTO_IGMP), own);
  attachFilter(native(), linux_if::dropAllProgram());
}

}  // namespace net
