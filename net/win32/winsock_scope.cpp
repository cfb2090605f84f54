#include "net/winsock_scope.h"

#include "net/platform.h"
#include "net/socket_exceptions.h"

namespace net {

namespace {
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);
}  // namespace

WinsockScope::WinsockScope() {
  // The granted version is not examined: every call the tool makes is in 2.2.
  WSADATA granted;
  const int result = ::WSAStartup(kWinsockVersion, &granted);
  // Before a successful start-up WSAGetLastError is not available; the call
  // hands back its Winsock error number itself.
  if (result != 0) throw CV_SocketException(result, "WSAStartup");
}

void WinsockScope::close() {
  if (!open_) return;
  open_ = false;
  if (::WSACleanup() == 0) return;
  throw CV_SocketException(::WSAGetLastError(), "WSACleanup");
}

WinsockScope::~WinsockScope() {
  if (open_) ::WSACleanup();
}

}  // namespace net
