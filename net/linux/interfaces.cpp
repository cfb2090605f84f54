// The host's interfaces on Linux.
#include "net/interfaces.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>

#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "net/socket.h"

namespace net {

namespace {

struct FreeInterfaceList {
  void operator()(ifaddrs* list) const noexcept { ::freeifaddrs(list); }
};

}  // namespace

std::vector<HostInterface> hostInterfaces() {
  ifaddrs* first = nullptr;
  if (::getifaddrs(&first) == -1) throwSocketError("Bind");
  const std::unique_ptr<ifaddrs, FreeInterfaceList> list(first);
  // Every interface's link-layer entry carries its index; asking the kernel
  // by name costs three calls an entry. Address labels ("eth0:1") have no
  // such entry and are asked for by name.
  std::map<std::string, unsigned int, std::less<>> indexByName;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_PACKET) {
      const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
      indexByName.emplace(entry->ifa_name, static_cast<unsigned int>(link->sll_ifindex));
    }
  }
  std::vector<HostInterface> interfaces;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    HostInterface found;
    found.name = entry->ifa_name;
    const auto known = indexByName.find(found.name);
    found.index = known != indexByName.end() ? known->second : ::if_nametoindex(entry->ifa_name);
    found.up = (entry->ifa_flags & IFF_UP) != 0U;
    found.running = (entry->ifa_flags & IFF_RUNNING) != 0U;
    found.multicast = (entry->ifa_flags & IFF_MULTICAST) != 0U;
    found.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0U;
    const int family = entry->ifa_addr != nullptr ? entry->ifa_addr->sa_family : AF_UNSPEC;
    if (family == AF_INET || family == AF_INET6) {
      found.hasIpv4 = family == AF_INET;
      found.hasIpv6 = family == AF_INET6;
      const std::size_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
      SocketAddress address;
      std::memcpy(&address.storage, entry->ifa_addr, length);
      found.address = endpointOf(address).address;
      if (entry->ifa_netmask != nullptr) {
        SocketAddress mask;
        std::memcpy(&mask.storage, entry->ifa_netmask, length);
        // The address must outlive the loop over its bytes.
        const Address maskAddress = endpointOf(mask).address;
        for (const std::uint8_t byte : maskAddress.bytes()) {
          found.prefixLength += std::popcount(byte);
        }
      }
      interfaces.push_back(found);
    } else if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_PACKET) {
      // Every interface has one link-layer entry: it names those without IPv4.
      interfaces.push_back(found);
    }
  }
  return interfaces;
}

}  // namespace net
