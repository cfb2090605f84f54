// The Winsock receive-all modes.
//
// SIO_RCVALL works only on a raw socket of protocol 0, but a Hello sent from
// such a socket would leave as protocol 0, not PIM. So the all-traffic mode
// gets a capture socket of its own, bound to the same address, and the
// socket keeps its own protocol for sending.
// mstcpip.h builds on the Winsock headers that platform.h brings in.
#include "net/platform.h"
// clang-format off
#include <mstcpip.h>
// clang-format on

#include <cstring>

#include "net/pending_socket.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"

namespace {

constexpr const char* kReceiveAllOperation = "WSAIoctl";

void switchOn(net::NativeSocket socket, DWORD controlCode) {
  DWORD mode = RCVALL_ON;
  DWORD returned = 0;
  if (::WSAIoctl(socket, controlCode, &mode, sizeof mode, nullptr, 0, &returned, nullptr,
                 nullptr) == SOCKET_ERROR) {
    net::throwSocketError(kReceiveAllOperation);
  }
}

sockaddr_in boundAddressOf(net::NativeSocket socket) {
  sockaddr_in bound;
  std::memset(&bound, 0, sizeof bound);
  int length = sizeof bound;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) == SOCKET_ERROR) {
    net::throwSocketError(kReceiveAllOperation);
  }
  return bound;
}

net::NativeSocket openCapture(sockaddr_in local) {
  local.sin_port = 0;
  net::PendingSocket capture(net::os::openSocket(AF_INET, SOCK_RAW, IPPROTO_IP));
  if (capture.get() == net::kInvalidSocket) net::throwSocketError(kReceiveAllOperation);
  // The mode needs one explicit interface address: the sending socket's.
  if (net::os::bindTo(capture.get(), local) == SOCKET_ERROR) {
    net::throwSocketError(kReceiveAllOperation);
  }
  switchOn(capture.get(), SIO_RCVALL);
  return capture.release();
}

}  // namespace

void RawSocket::enableReceiveAll() {
  // The PIM prober switches the mode on before every listening period; one
  // capture serves them all.
  if (capturing()) return;
  const sockaddr_in own = boundAddressOf(handle);
  attachCapture(openCapture(own), own.sin_addr);
}

void RawSocket::enableReceiveAllIgmp() { switchOn(handle, SIO_RCVALL_IGMPMCAST); }

// Winsock has no per-type ICMP filter; the readers drop what is not a reply.
void RawSocket::acceptOnlyEchoReplies(std::uint16_t /*identifier*/) {}
