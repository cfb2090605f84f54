#include "probes/membership.h"

#include <cstring>

#include "net/address.h"

void requestMembership(net::Socket& socket, int option, const std::string& group,
                       const in_addr& interfaceAddress) {
  ip_mreq request;
  std::memset(&request, 0, sizeof request);
  request.imr_multiaddr.s_addr = net::addressFromText(group);
  request.imr_interface = interfaceAddress;
  socket.setOption(IPPROTO_IP, option, &request, sizeof request);
}

void requestSourceMembership(net::Socket& socket, int option, const std::string& group,
                             const std::string& source, const in_addr& interfaceAddress) {
  // The record's field order differs between platforms: fill it by name.
  ip_mreq_source request;
  std::memset(&request, 0, sizeof request);
  request.imr_multiaddr.s_addr = net::addressFromText(group);
  request.imr_sourceaddr.s_addr = net::addressFromText(source);
  request.imr_interface = interfaceAddress;
  socket.setOption(IPPROTO_IP, option, &request, sizeof request);
}
