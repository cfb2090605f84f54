// The raw ICMP socket's kernel-side filter. A file of its own: linux/icmp.h
// brings linux/if.h, which clashes with the glibc net/if.h used elsewhere.
#include <linux/icmp.h>
#include <sys/socket.h>

#include <vector>

#include "net/pcap_ring_linux.h"
#include "net/socket.h"

namespace net {

void RawSocket::acceptOnlyEchoReplies(const std::string& replyFilter) {
  // Every other ICMP type is dropped before the socket even gets a copy...
  icmp_filter types{};
  types.data = ~(1U << ICMP_ECHOREPLY);
  setOption(SOL_RAW, ICMP_FILTER, &types, sizeof types);
  // ...and so is every echo reply the probe would not count, such as those to
  // another process's pings.
  std::vector<sock_filter> program = linux_capture::compileForIpDatagrams(replyFilter, "SetOption");
  const sock_fprog replies{static_cast<unsigned short>(program.size()), program.data()};
  setOption(SOL_SOCKET, SO_ATTACH_FILTER, &replies, sizeof replies);
}

}  // namespace net
