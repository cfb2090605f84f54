#include "net/winsock_scope.h"

// POSIX sockets need no library start or cleanup.
WinsockScope::WinsockScope() = default;

WinsockScope::~WinsockScope() noexcept(false) = default;
