#include "net/winsock_scope.h"

namespace net {

// POSIX sockets need no library start or cleanup.
WinsockScope::WinsockScope() = default;

void WinsockScope::close() { open_ = false; }

WinsockScope::~WinsockScope() = default;

}  // namespace net
