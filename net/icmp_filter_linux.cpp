// The raw ICMP socket's kernel-side filter. A file of its own: linux/icmp.h
// brings linux/if.h, which clashes with the glibc net/if.h used elsewhere.
#include <linux/icmp.h>
#include <sys/socket.h>

#include <vector>

#include "net/capture_filter_linux.h"
#include "net/socket.h"

namespace net {

void RawSocket::acceptOnlyEchoReplies(std::uint16_t identifier) {
  // Every other ICMP type is dropped before it is queued...
  icmp_filter filter{};
  filter.data = ~(1U << ICMP_ECHOREPLY);
  setOption(SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  // ...and so is every echo reply to another process's pings.
  std::vector<sock_filter> program = net::linux_if::echoReplyProgram(identifier);
  const sock_fprog echoReplies{static_cast<unsigned short>(program.size()), program.data()};
  setOption(SOL_SOCKET, SO_ATTACH_FILTER, &echoReplies, sizeof echoReplies);
}

}  // namespace net
