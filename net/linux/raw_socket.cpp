// RawSocket on Linux: the raw ICMP and ICMPv6 sockets' kernel-side filters,
// and the Router Alert of the MLD sender. Its capture is in link_captures.cpp:
// linux/icmp.h brings linux/if.h, which clashes with the glibc net/if.h there.
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <sys/socket.h>

#include <array>
#include <vector>

#include "net/linux/pcap_ring.h"
#include "net/privilege.h"
#include "net/socket.h"

namespace net {

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
