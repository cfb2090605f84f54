// The raw ICMP and ICMPv6 sockets' kernel-side filters, and the Router Alert
// of the MLD sender. A file of its own: linux/icmp.h brings linux/if.h, which
// clashes with the glibc net/if.h used elsewhere.
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <sys/socket.h>

#include <array>
#include <vector>

#include "net/capture_filter_linux.h"
#include "net/socket.h"

namespace net {

namespace {

void attach(RawSocket& socket, std::vector<sock_filter> program) {
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  socket.setOption(SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter);
}

}  // namespace

void RawSocket::acceptOnlyEchoReplies(std::uint16_t identifier) {
  if (family() == Family::V6) {
    // ICMPv6 carries MLD and neighbour discovery too: only echo replies pass.
    icmp6_filter filter{};
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
    setOption(IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    attach(*this, net::linux_if::echoReplyProgramV6(identifier));
    return;
  }
  // Every other ICMP type is dropped before it is queued...
  icmp_filter filter{};
  filter.data = ~(1U << ICMP_ECHOREPLY);
  setOption(SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  // ...and so is every echo reply to another process's pings.
  attach(*this, net::linux_if::echoReplyProgram(identifier));
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
  setOption(IPPROTO_IPV6, IPV6_HOPOPTS, hopByHop.data(), static_cast<int>(hopByHop.size()));
}

}  // namespace net
