// Group memberships with the family-neutral requests (RFC 3678 5.2; Windows
// since Vista): the same records for IPv4 and IPv6, the interface named by
// its index.
#include <cstring>

#include "net/socket.h"

namespace net {

namespace {

// The option and its level: IPPROTO_IP on an IPv4 socket, IPPROTO_IPV6 on an IPv6 one.
int levelFor(Family family) { return family == Family::V4 ? IPPROTO_IP : IPPROTO_IPV6; }

int optionFor(Membership change, bool sourceSpecific) {
  if (sourceSpecific) {
    return change == Membership::Join ? MCAST_JOIN_SOURCE_GROUP : MCAST_LEAVE_SOURCE_GROUP;
  }
  return change == Membership::Join ? MCAST_JOIN_GROUP : MCAST_LEAVE_GROUP;
}

void copyInto(sockaddr_storage& target, const Address& address) {
  const SocketAddress native = socketAddressOf(Endpoint{address, 0});
  std::memcpy(&target, &native.storage, sizeof target);
}

}  // namespace

void Socket::changeMembership(Membership change, const Address& group,
                              const std::optional<Address>& source, unsigned int interfaceIndex) {
  const int level = levelFor(family());
  const int option = optionFor(change, source.has_value());
  if (source) {
    group_source_req request;
    std::memset(&request, 0, sizeof request);
    request.gsr_interface = interfaceIndex;
    copyInto(request.gsr_group, group);
    copyInto(request.gsr_source, *source);
    setOption(level, option, &request, sizeof request);
  } else {
    group_req request;
    std::memset(&request, 0, sizeof request);
    request.gr_interface = interfaceIndex;
    copyInto(request.gr_group, group);
    setOption(level, option, &request, sizeof request);
  }
}

}  // namespace net
