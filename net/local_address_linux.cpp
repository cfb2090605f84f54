// Binding a raw socket to this host's own address on Linux.
//
// The host name is looked up as on any platform, but Debian and others map it
// to 127.0.1.1, where a raw socket sends into nothing. So the first resolved
// address that sits on an up, non-loopback interface wins; failing that, the
// address of the first up, multicast-capable, non-loopback interface.
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <optional>

#include "net/interfaces_linux.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"

namespace {

using net::linux_if::Interface;

bool usableForProbing(const Interface& candidate) {
  return (candidate.flags & IFF_UP) != 0U && (candidate.flags & IFF_LOOPBACK) == 0U;
}

std::optional<in_addr> chooseLocalAddress(const addrinfo* resolved,
                                          const std::vector<Interface>& interfaces) {
  for (const addrinfo* entry = resolved; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    const in_addr address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
    const auto owner = net::linux_if::interfaceWithAddress(interfaces, address);
    if (owner && usableForProbing(*owner)) return address;
  }
  for (const Interface& candidate : interfaces) {
    if (usableForProbing(candidate) && (candidate.flags & IFF_MULTICAST) != 0U) {
      return candidate.address;
    }
  }
  return std::nullopt;
}

}  // namespace

void RawSocket::bindToLocalAddress(int protocol) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_flags = AI_PASSIVE;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_RAW;
  hints.ai_protocol = protocol;

  std::array<char, 1024> hostName{};
  if (::gethostname(hostName.data(), hostName.size() - 1) == -1) {
    net::throwSocketError("gethostname");
  }
  // glibc refuses the service "0" with SOCK_RAW; no service means port 0.
  addrinfo* resolved = nullptr;
  const int lookup = ::getaddrinfo(hostName.data(), nullptr, &hints, &resolved);
  if (lookup != 0) throw CV_SocketException(lookup, "getaddrinfo");

  std::optional<in_addr> chosen;
  try {
    chosen = chooseLocalAddress(resolved, net::linux_if::ipv4Interfaces("Bind"));
  } catch (...) {
    ::freeaddrinfo(resolved);
    throw;
  }
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  // With no interface to prefer, the first resolved address is all there is.
  local.sin_addr =
      chosen ? *chosen : reinterpret_cast<const sockaddr_in*>(resolved->ai_addr)->sin_addr;
  ::freeaddrinfo(resolved);

  bind(local);
  // Multicast sent from this socket leaves where its capture listens.
  setOption(IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr, sizeof local.sin_addr);
}
