// RawSocket on Linux: the raw ICMP and ICMPv6 sockets' kernel-side filters,
// the capture that replaces a raw socket's reads, and the Router Alert of
// the MLD sender.
#include "net/socket.h"

#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <sys/socket.h>

#include <array>
#include <string>
#include <vector>

#include "net/capture/capture_filter.h"
#include "net/capture/link_captures.h"
#include "net/linux/capture_operation.h"
#include "net/linux/ipv6_capture.h"
#include "net/linux/packet_capture.h"
#include "net/linux/pcap_ring.h"
#include "net/privilege.h"
#include "net/socket_exceptions.h"

namespace net {

namespace {

constexpr const char* kOpening = linux_capture::kCaptureOperation;

// The interface the socket is bound to: the one it was tied to, or else the
// one holding its address.
LinkInterface boundInterface(const std::string& name, unsigned int index, const Address& own) {
  if (index != 0 && !name.empty()) return LinkInterface{name, index, own, ChosenBy::HostName};
  const HostInterface holder = captureInterfaceOf(own);
  return LinkInterface{holder.name, holder.index, own, ChosenBy::HostName};
}

Address boundAddressOf(NativeSocket boundSocket, const char* operation) {
  SocketAddress bound;
  if (os::localAddressOf(boundSocket, bound) == -1) throwSocketError(operation);
  return endpointOf(bound).address;
}

}  // namespace

void RawSocket::captureLink(LinkCaptures& captures, const CaptureRequest& request) {
  if (capturing()) return;
  const Address own = boundAddressOf(native(), kOpening);
  if (request.family == Family::V6) {
    // The extension-header walk IPv6 needs is a program of its own, not an
    // expression, and it reads the ICMPv6 message alone: no destination.
    CaptureRequest message = request;
    message.destination.reset();
    attachCapture(openIpv6Capture(own, linkIndex_, message), own);
  } else {
    attachCapture(captures.open(boundInterface(linkName_, linkIndex_, own), request, own));
  }
  // From now on only the capture is read: the raw socket itself only sends.
  // Compiled once: every capture's raw socket gets the same program.
  static const std::vector<sock_filter> kNothing =
      linux_capture::compileForIpDatagrams(kKeepNothing, kOpening);
  std::vector<sock_filter> nothing = kNothing;
  const sock_fprog program{static_cast<unsigned short>(nothing.size()), nothing.data()};
  if (os::setOption(native(), SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == -1) {
    throwSocketError(kOpening);
  }
}

void RawSocket::watchAllHosts(LinkCaptures& captures, const PassLink& link,
                              const CaptureRequest& request) {
  if (request.family == Family::V6) {
    bindToLink(link);
    captureLink(captures, request);
    return;
  }
  // Every host takes in what goes to all hosts: the raw socket's own queue
  // has it, and a watch that lasts a whole pass holds no ring the probes'
  // captures need, and wakes for nothing a flood of other groups brings.
  // Bound to the device alone: a raw socket bound to an address takes only
  // what is sent to that address.
  const LinkInterface& chosen = requireLinkToBindTo(link);
  if (chosen.index != 0) {
    const RaisedPrivilege raised;
    if (os::bindToDevice(native(), chosen.name) == -1) throwSocketError("Bind");
  }
  std::vector<sock_filter> program = linux_capture::compileForRawSocket(request, kOpening);
  const sock_fprog kept{static_cast<unsigned short>(program.size()), program.data()};
  setOption(SOL_SOCKET, SO_ATTACH_FILTER, &kept, sizeof kept);
}

void RawSocket::acceptOnlyEchoReplies(const CaptureRequest& replies) {
  if (family() == Family::V6) {
    // ICMPv6 carries MLD and neighbour discovery too: only echo replies pass...
    icmp6_filter types{};
    ICMP6_FILTER_SETBLOCKALL(&types);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &types);
    setOption(IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types);
  } else {
    // Every other ICMP type is dropped before the socket even gets a copy...
    icmp_filter types{};
    types.data = ~(1U << ICMP_ECHOREPLY);
    setOption(SOL_RAW, ICMP_FILTER, &types, sizeof types);
  }
  // ...and so is every echo reply the probe would not count, such as those to
  // another process's pings.
  std::vector<sock_filter> program = linux_capture::compileForRawSocket(replies, "SetOption");
  const sock_fprog kept{static_cast<unsigned short>(program.size()), program.data()};
  setOption(SOL_SOCKET, SO_ATTACH_FILTER, &kept, sizeof kept);
}

void RawSocket::sendWithRouterAlert() {
  //  0               1               2               3
  // +---------------+---------------+---------------+---------------+
  // | Next Header   | Hdr Ext Len 0 | Type 5 (RA)   | Opt Data Len 2|
  // +---------------+---------------+---------------+---------------+
  // |  Value 0 (MLD, RFC 2711)      | PadN type 1   | PadN length 0 |
  // +---------------+---------------+---------------+---------------+
  // The kernel fills in the next header when it sends.
  const std::array<std::uint8_t, 8> hopByHop{0, 0, 5, 2, 0, 0, 1, 0};
  // Linux lets only CAP_NET_RAW set a hop-by-hop header (EPERM otherwise).
  const RaisedPrivilege raised;
  setOption(IPPROTO_IPV6, IPV6_HOPOPTS, hopByHop.data(), static_cast<int>(hopByHop.size()));
}

}  // namespace net
