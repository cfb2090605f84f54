#include "net/membership.h"

#include <cstring>

namespace net {

void changeMembership(Socket& socket, Membership change, const in_addr& group,
                      const in_addr& interfaceAddress) {
  ip_mreq request;
  std::memset(&request, 0, sizeof request);
  request.imr_multiaddr = group;
  request.imr_interface = interfaceAddress;
  const int option = change == Membership::Join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
  socket.setOption(IPPROTO_IP, option, &request, sizeof request);
}

void changeSourceMembership(Socket& socket, Membership change, const in_addr& group,
                            const in_addr& source, const in_addr& interfaceAddress) {
  // The record's field order differs between platforms: fill it by name.
  ip_mreq_source request;
  std::memset(&request, 0, sizeof request);
  request.imr_multiaddr = group;
  request.imr_sourceaddr = source;
  request.imr_interface = interfaceAddress;
  const int option =
      change == Membership::Join ? IP_ADD_SOURCE_MEMBERSHIP : IP_DROP_SOURCE_MEMBERSHIP;
  socket.setOption(IPPROTO_IP, option, &request, sizeof request);
}

}  // namespace net
