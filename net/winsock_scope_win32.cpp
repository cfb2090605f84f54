#include <exception>

#include "net/platform.h"
#include "net/socket_exceptions.h"
#include "net/winsock_scope.h"

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

WinsockScope::~WinsockScope() noexcept(false) {
  if (::WSACleanup() == 0) return;
  const int error = ::WSAGetLastError();
  // A second exception during unwinding would end the process; the first one
  // says more about what went wrong.
  if (std::uncaught_exceptions() > 0) return;
  throw CV_SocketException(error, "WSACleanup");
}

}  // namespace net
