#include "net/winsock_scope.h"

namespace net {

// POSIX sockets need no library start or cleanup.
WinsockScope::WinsockScope() = default;

WinsockScope::~WinsockScope() noexcept(false) = default;

}  // namespace net
