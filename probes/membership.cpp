#include "probes/membership.h"

#include <cstring>

#include "net/address.h"

void requestMembership(Socket& socket, int option, const std::string& group) {
  ip_mreq request;
  std::memset(&request, 0, sizeof request);
  request.imr_multiaddr.s_addr = net::addressFromText(group);
  request.imr_interface.s_addr = htonl(INADDR_ANY);
  socket.setOption(IPPROTO_IP, option, &request, sizeof request);
}

void requestSourceMembership(Socket& socket, int option, const std::string& group,
                             const std::string& source) {
  // The record's field order differs between platforms: fill it by name.
  ip_mreq_source request;
  std::memset(&request, 0, sizeof request);
  request.imr_multiaddr.s_addr = net::addressFromText(group);
  request.imr_sourceaddr.s_addr = net::addressFromText(source);
  request.imr_interface.s_addr = htonl(INADDR_ANY);
  socket.setOption(IPPROTO_IP, option, &request, sizeof request);
}
