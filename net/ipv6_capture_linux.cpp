// The IPv6 link capture on Linux: a packet socket on the bound interface that
// hands over each inbound IPv6 datagram its program keeps, header first.
// All-multicast membership lets in queries for groups this host never joined.
#include "net/ipv6_capture_linux.h"

#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>

#include "net/capture_filter_linux.h"
#include "net/interfaces.h"
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
// `program` keeps of its inbound IPv6 traffic, multicast to any group included.
UniqueSocket openCapture(int interfaceIndex, std::vector<sock_filter> program) {
  // Protocol 0 until bound: nothing is queued before the filter is in place.
  UniqueSocket capture(os::openSocket(AF_PACKET, SOCK_DGRAM, 0),
                       UniqueSocket::Closing::InBackground);
  if (!capture.valid()) throwSocketError(kOperation);

  // Only what a reader could count is copied out of the kernel.
  attachFilter(capture.get(), std::move(program));

  sockaddr_ll link;
  std::memset(&link, 0, sizeof link);
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(ETH_P_IPV6);
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

}  // namespace

UniqueSocket openIpv6Capture(const Address& address, unsigned int knownIndex, int nextHeader) {
  const int interfaceIndex =
      knownIndex != 0 ? static_cast<int>(knownIndex) : interfaceIndexOf(address);
  return openCapture(interfaceIndex, linux_if::ipv6CaptureProgramFor(nextHeader));
}

}  // namespace net
