#include "net/interfaces_linux.h"

#include <ifaddrs.h>

#include "net/socket.h"

namespace net::linux_if {

std::vector<Interface> ipv4Interfaces(const char* operationOnFailure) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == -1) throwSocketError(operationOnFailure);
  std::vector<Interface> interfaces;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    interfaces.push_back({entry->ifa_name, entry->ifa_flags, address->sin_addr});
  }
  ::freeifaddrs(list);
  return interfaces;
}

std::optional<Interface> interfaceWithAddress(const std::vector<Interface>& interfaces,
                                              const in_addr& address) {
  for (const Interface& candidate : interfaces) {
    if (candidate.address.s_addr == address.s_addr) return candidate;
  }
  return std::nullopt;
}

}  // namespace net::linux_if
