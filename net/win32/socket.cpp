// RawSocket on Windows: the Winsock receive-all modes, and the socket
// options Winsock lacks.
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

#include "net/capture/link_capture.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"
#include "net/unique_socket.h"

namespace net {

namespace {

constexpr const char* kReceiveAllOperation = "WSAIoctl";

void switchOn(NativeSocket socket, DWORD controlCode) {
  DWORD mode = RCVALL_ON;
  DWORD returned = 0;
  if (::WSAIoctl(socket, controlCode, &mode, sizeof mode, nullptr, 0, &returned, nullptr,
                 nullptr) == SOCKET_ERROR) {
    throwSocketError(kReceiveAllOperation);
  }
}

Address boundAddressOf(NativeSocket socket) {
  SocketAddress bound;
  if (os::localAddressOf(socket, bound) == SOCKET_ERROR) throwSocketError(kReceiveAllOperation);
  return endpointOf(bound).address;
}

UniqueSocket openCapture(const Address& local) {
  UniqueSocket capture(os::openSocket(nativeFamily(local.family()), SOCK_RAW, IPPROTO_IP));
  if (!capture.valid()) throwSocketError(kReceiveAllOperation);
  // The mode needs one explicit interface address: the sending socket's.
  if (os::bindTo(capture.get(), socketAddressOf(Endpoint{local, 0})) == SOCKET_ERROR) {
    throwSocketError(kReceiveAllOperation);
  }
  switchOn(capture.get(), SIO_RCVALL);
  return capture;
}

}  // namespace

void RawSocket::enableReceiveAll() {
  // The PIM prober switches the mode on before every listening period; one
  // capture serves them all.
  if (capturing()) return;
  const Address own = boundAddressOf(native());
  // The readers take datagrams IPv6 header first, and nothing here has shown
  // that Winsock's all-traffic mode hands IPv6 over so.
  if (own.family() == Family::V6) {
    throw CV_PlatformLacksException(WSAEOPNOTSUPP, "SIO_RCVALL",
                                    "a capture of the IPv6 PIM messages on the link");
  }
  attachCapture(openCapture(own), own);
}

void RawSocket::enableReceiveAllIgmp() { switchOn(native(), SIO_RCVALL_IGMPMCAST); }

// Winsock filters by protocol only: IGMP has a mode of its own, anything else
// takes the all-traffic mode; the readers sort what they get.
void RawSocket::captureLink(LinkCaptures& /*captures*/, const CaptureRequest& request) {
  if (request.protocol == IPPROTO_IGMP) {
    enableReceiveAllIgmp();
  } else {
    enableReceiveAll();
  }
}

// Winsock's receive-all modes want the socket bound to an address; the
// readers keep the queries to all hosts.
void RawSocket::watchAllHosts(LinkCaptures& captures, const PassLink& link,
                              const CaptureRequest& request) {
  bindToLink(link);
  captureLink(captures, request);
}

// Winsock has no per-type ICMP filter; the readers drop what is not a reply.
void RawSocket::acceptOnlyEchoReplies(const CaptureRequest& /*replies*/) {}

// Winsock takes no hop-by-hop options on a socket: an MLD message without
// the Router Alert is one a router may ignore, so none is sent.
void RawSocket::sendWithRouterAlert() {
  throw CV_PlatformLacksException(WSAENOPROTOOPT, "IPV6_HOPOPTS",
                                  "the IPv6 Router Alert option that every MLD message carries");
}

}  // namespace net
