// Windows has no capture of the host's own outgoing reports that the watch
// could rest on: the watch says so rather than watch half the link.
#include "net/watch_link.h"

#include "net/platform.h"
#include "net/socket_exceptions.h"

namespace net {

std::unique_ptr<LinkWatcher> openLinkWatcher(Family /*family*/, const LinkInterface& /*link*/,
                                             const std::vector<WatchedBeacon>& /*beacons*/) {
  throw CV_PlatformLacksException(WSAEOPNOTSUPP, "--watch",
                                  "the watch of a link, which this build has on Linux only");
}

std::optional<unsigned int> linkIndexIfUp(const std::string& /*name*/) { return std::nullopt; }

}  // namespace net
