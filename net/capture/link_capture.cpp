#include "net/capture/link_capture.h"

namespace net {

std::string beaconFilter(const Endpoint& groupAndPort, const std::optional<Address>& source) {
  std::string filter = "udp and dst host " + groupAndPort.address.withScope(0).toString() +
                       " and dst port " + std::to_string(groupAndPort.port);
  if (source) filter += " and src host " + source->withScope(0).toString();
  return filter;
}

}  // namespace net
