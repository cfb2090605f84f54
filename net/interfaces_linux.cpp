// The host's interfaces and its name's addresses on Linux.
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "net/interfaces.h"
#include "net/socket.h"

namespace net {

std::vector<HostInterface> hostInterfaces() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == -1) throwSocketError("Bind");
  std::vector<HostInterface> interfaces;
  std::vector<std::string> withoutIpv4;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    HostInterface found;
    found.name = entry->ifa_name;
    found.index = ::if_nametoindex(entry->ifa_name);
    found.up = (entry->ifa_flags & IFF_UP) != 0U;
    found.running = (entry->ifa_flags & IFF_RUNNING) != 0U;
    found.multicast = (entry->ifa_flags & IFF_MULTICAST) != 0U;
    found.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0U;
    if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
      found.hasIpv4 = true;
      found.address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
      interfaces.push_back(found);
    } else if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_PACKET) {
      // Every interface has one link-layer entry: it names those without IPv4.
      interfaces.push_back(found);
    }
  }
  ::freeifaddrs(list);
  return interfaces;
}

std::vector<in_addr> hostNameAddresses() {
  std::array<char, 1024> hostName{};
  if (::gethostname(hostName.data(), hostName.size() - 1) == -1) throwSocketError("gethostname");
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_flags = AI_PASSIVE;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_RAW;
  hints.ai_protocol = IPPROTO_IGMP;
  // glibc refuses the service "0" with SOCK_RAW; no service means port 0.
  addrinfo* resolved = nullptr;
  const int lookup = ::getaddrinfo(hostName.data(), nullptr, &hints, &resolved);
  if (lookup != 0) throw CV_SocketException(lookup, "getaddrinfo");
  std::vector<in_addr> addresses;
  for (const addrinfo* entry = resolved; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    addresses.push_back(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr);
  }
  ::freeaddrinfo(resolved);
  return addresses;
}

}  // namespace net
