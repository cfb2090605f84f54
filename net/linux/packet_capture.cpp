#include "net/linux/packet_capture.h"

#include <linux/if_ether.h>
#include <linux/if_packet.h>

#include <cerrno>
#include <cstring>

#include "net/linux/capture_operation.h"
#include "net/linux/capture_programs.h"
#include "net/privilege.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"

// Older headers (before Linux 4.20) lack it; the value is the kernel's.
#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23
#endif

namespace net {

namespace {

// Winsock's name for the call that switches a receive-all mode on: the
// report names a capture failure the same way on every platform.
constexpr const char* kOperation = linux_capture::kCaptureOperation;

void setCaptureOption(NativeSocket capture, int level, int option, const void* value,
                      socklen_t length) {
  if (os::setOption(capture, level, option, value, static_cast<int>(length)) == -1) {
    throwSocketError(kOperation);
  }
}

}  // namespace

HostInterface captureInterfaceOf(const Address& own) {
  std::vector<HostInterface> interfaces;
  try {
    interfaces = hostInterfaces();
  } catch (const CV_SocketException& failure) {
    throw CV_SocketException(failure.errorCode, kOperation);
  }
  const HostInterface* holder = holderOf(interfaces, own);
  if (holder == nullptr || holder->index == 0) throw CV_SocketException(EADDRNOTAVAIL, kOperation);
  return *holder;
}

UniqueSocket openPacketCapture(unsigned int interfaceIndex, Family family,
                               std::vector<sock_filter> program) {
  // Protocol 0 until bound: nothing is queued before the filter is in place.
  UniqueSocket capture = [] {
    const RaisedPrivilege raised;
    UniqueSocket opened(os::openSocket(AF_PACKET, SOCK_DGRAM, 0),
                        UniqueSocket::Closing::InBackground);
    if (!opened.valid()) throwSocketError(kOperation);
    return opened;
  }();

  // Only what a reader could count is copied out of the kernel, and only
  // what came for this host.
  program = linux_if::withoutOtherHosts(program);
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  setCaptureOption(capture.get(), SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter);

  sockaddr_ll link;
  std::memset(&link, 0, sizeof link);
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(family == Family::V6 ? ETH_P_IPV6 : ETH_P_IP);
  link.sll_ifindex = static_cast<int>(interfaceIndex);
  if (::bind(capture.get(), reinterpret_cast<const sockaddr*>(&link), sizeof link) == -1) {
    throwSocketError(kOperation);
  }

  // Queries and beacons for groups this host never joined must pass the
  // interface's own multicast filter.
  packet_mreq allMulticast;
  std::memset(&allMulticast, 0, sizeof allMulticast);
  allMulticast.mr_ifindex = static_cast<int>(interfaceIndex);
  allMulticast.mr_type = PACKET_MR_ALLMULTI;
  setCaptureOption(capture.get(), SOL_PACKET, PACKET_ADD_MEMBERSHIP, &allMulticast,
                   sizeof allMulticast);

  // What this host sends itself is never evidence of a router. Kernels
  // before 4.20 refuse the option; the program or the reader then drops
  // those packets instead.
  const int ignore = 1;
  if (os::setOption(capture.get(), SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore) ==
          -1 &&
      lastSocketError() != ENOPROTOOPT) {
    throwSocketError(kOperation);
  }
  return capture;
}

}  // namespace net
