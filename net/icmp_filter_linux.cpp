// The raw ICMP socket's kernel-side filter. A file of its own: linux/icmp.h
// brings linux/if.h, which clashes with the glibc net/if.h used elsewhere.
#include <linux/icmp.h>
#include <sys/socket.h>

#include "net/socket.h"

namespace net {

void RawSocket::acceptOnlyEchoReplies() {
  // Every other ICMP type is dropped before it is queued.
  icmp_filter filter{};
  filter.data = ~(1U << ICMP_ECHOREPLY);
  setOption(SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

}  // namespace net
