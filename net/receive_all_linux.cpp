// Receive-all modes on Linux: a packet socket on the bound interface that
// hands over each inbound IPv4 datagram of one IP protocol, header first.
// All-multicast membership lets in queries for groups this host never joined.
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "net/interfaces.h"
#include "net/pending_socket.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"

namespace {

constexpr const char* kOperation = "WSAIoctl";

[[noreturn]] void failWith(int error) {
  errno = error;
  net::throwSocketError(kOperation);
}

void setCaptureOption(const net::PendingSocket& capture, int level, int option, const void* value,
                      socklen_t length) {
  if (::setsockopt(capture.get(), level, option, value, length) == -1) {
    net::throwSocketError(kOperation);
  }
}

in_addr boundAddressOf(net::NativeSocket boundSocket) {
  sockaddr_in bound;
  std::memset(&bound, 0, sizeof bound);
  socklen_t length = sizeof bound;
  if (::getsockname(boundSocket, reinterpret_cast<sockaddr*>(&bound), &length) == -1) {
    net::throwSocketError(kOperation);
  }
  return bound.sin_addr;
}

int interfaceIndexOf(const in_addr& address) {
  std::vector<net::HostInterface> interfaces;
  try {
    interfaces = net::hostInterfaces();
  } catch (const CV_SocketException& failure) {
    throw CV_SocketException(failure.errorCode, kOperation);
  }
  for (const net::HostInterface& candidate : interfaces) {
    if (candidate.hasIpv4 && candidate.address.s_addr == address.s_addr && candidate.index != 0) {
      return static_cast<int>(candidate.index);
    }
  }
  // Only a socket bound to one interface's own address can be captured for.
  failWith(EADDRNOTAVAIL);
}

net::NativeSocket openCapture(const in_addr& address, int ipProtocol) {
  const int interfaceIndex = interfaceIndexOf(address);
  // Protocol 0 until bound: nothing is queued before the filter is in place.
  net::PendingSocket capture(net::os::openSocket(AF_PACKET, SOCK_DGRAM, 0));
  if (capture.get() == net::kInvalidSocket) net::throwSocketError(kOperation);

  // Offsets count from the IP header on a SOCK_DGRAM packet socket.
  std::array<sock_filter, 4> program{{
      {BPF_LD | BPF_B | BPF_ABS, 0, 0, 9},
      {BPF_JMP | BPF_JEQ | BPF_K, 0, 1, static_cast<std::uint32_t>(ipProtocol)},
      {BPF_RET | BPF_K, 0, 0, 0x40000},
      {BPF_RET | BPF_K, 0, 0, 0},
  }};
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  setCaptureOption(capture, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter);

  sockaddr_ll link;
  std::memset(&link, 0, sizeof link);
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(ETH_P_IP);
  link.sll_ifindex = interfaceIndex;
  if (::bind(capture.get(), reinterpret_cast<const sockaddr*>(&link), sizeof link) == -1) {
    net::throwSocketError(kOperation);
  }

  packet_mreq allMulticast;
  std::memset(&allMulticast, 0, sizeof allMulticast);
  allMulticast.mr_ifindex = interfaceIndex;
  allMulticast.mr_type = PACKET_MR_ALLMULTI;
  setCaptureOption(capture, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &allMulticast, sizeof allMulticast);

  // What this host sends itself is never evidence of a router.
  const int ignore = 1;
  setCaptureOption(capture, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
  return capture.release();
}

}  // namespace

void RawSocket::enableReceiveAll() {
  // The only user wants PIM; the capture carries the socket's own protocol.
  if (capturing()) return;
  const in_addr own = boundAddressOf(handle);
  attachCapture(openCapture(own, protocol_), own);
}

void RawSocket::enableReceiveAllIgmp() {
  if (capturing()) return;
  const in_addr own = boundAddressOf(handle);
  attachCapture(openCapture(own, IPPROTO_IGMP), own);
}
