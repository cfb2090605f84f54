// LD_PRELOAD shim: the kernel of a jump host older than Linux 4.20, which
// refuses PACKET_IGNORE_OUTGOING with ENOPROTOOPT. Each refusal appends a
// line to the file CORVANITE_SHIM_LOG names, so a scenario can tell that the
// tool really asked.
#include <dlfcn.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kIgnoreOutgoing = 23;  // PACKET_IGNORE_OUTGOING

using SetSockOpt = int (*)(int, int, int, const void*, socklen_t);

void noteRefusal() {
  const char* path = std::getenv("CORVANITE_SHIM_LOG");
  if (path == nullptr) return;
  if (std::FILE* log = std::fopen(path, "a")) {
    std::fputs("refused PACKET_IGNORE_OUTGOING\n", log);
    std::fclose(log);
  }
}
}  // namespace

extern "C" int setsockopt(int socket, int level, int option, const void* value, socklen_t length) {
  if (level == SOL_PACKET && option == kIgnoreOutgoing) {
    noteRefusal();
    errno = ENOPROTOOPT;
    return -1;
  }
  static const auto next = reinterpret_cast<SetSockOpt>(::dlsym(RTLD_NEXT, "setsockopt"));
  return next(socket, level, option, value, length);
}
