// Socket addresses from and to endpoints, and the calls that take them as they
// are: the same on every platform, whose headers both give sockaddr_in,
// sockaddr_in6 and a socklen_t.
#include <cstring>

#include "net/platform.h"

namespace net {

int nativeFamily(Family family) { return family == Family::V4 ? AF_INET : AF_INET6; }

SocketAddress socketAddressOf(const Endpoint& endpoint) {
  SocketAddress result;
  const Address& address = endpoint.address;
  if (address.isV4()) {
    sockaddr_in v4;
    std::memset(&v4, 0, sizeof v4);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(endpoint.port);
    std::memcpy(&v4.sin_addr, address.bytes().data(), 4);
    std::memcpy(&result.storage, &v4, sizeof v4);
    result.length = sizeof v4;
  } else {
    sockaddr_in6 v6;
    std::memset(&v6, 0, sizeof v6);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(endpoint.port);
    std::memcpy(&v6.sin6_addr, address.bytes().data(), 16);
    v6.sin6_scope_id = address.scopeId();
    std::memcpy(&result.storage, &v6, sizeof v6);
    result.length = sizeof v6;
  }
  return result;
}

Endpoint endpointOf(const SocketAddress& address) {
  if (address.storage.ss_family == AF_INET) {
    sockaddr_in v4;
    std::memcpy(&v4, &address.storage, sizeof v4);
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &v4.sin_addr, bytes.size());
    return Endpoint{*Address::fromBytes(bytes), ntohs(v4.sin_port)};
  }
  if (address.storage.ss_family == AF_INET6) {
    sockaddr_in6 v6;
    std::memcpy(&v6, &address.storage, sizeof v6);
    std::array<std::uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), &v6.sin6_addr, bytes.size());
    return Endpoint{Address::v6(bytes, v6.sin6_scope_id), ntohs(v6.sin6_port)};
  }
  return Endpoint{};
}

namespace os {

int bindTo(NativeSocket handle, const SocketAddress& address) {
  return ::bind(handle, address.get(), address.length);
}

int connectTo(NativeSocket handle, const SocketAddress& address) {
  return ::connect(handle, address.get(), address.length);
}

int localAddressOf(NativeSocket handle, SocketAddress& address) {
  address.length = sizeof address.storage;
  return ::getsockname(handle, address.get(), &address.length);
}

}  // namespace os

}  // namespace net
