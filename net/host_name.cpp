// The addresses of this host's own name, the same way on every platform.
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "net/interfaces.h"
#include "net/socket.h"

namespace net {

namespace {

struct FreeAddressInfo {
  void operator()(addrinfo* list) const noexcept { ::freeaddrinfo(list); }
};
using AddressInfoList = std::unique_ptr<addrinfo, FreeAddressInfo>;

}  // namespace

std::vector<Address> hostNameAddresses(Family family) {
  std::array<char, 1024> hostName{};
  if (os::hostName(hostName) == -1) throwSocketError("gethostname");
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_flags = AI_PASSIVE;
  hints.ai_family = nativeFamily(family);
  hints.ai_socktype = SOCK_RAW;
  hints.ai_protocol = family == Family::V4 ? int{IPPROTO_IGMP} : int{IPPROTO_ICMPV6};
  // glibc refuses the service "0" with SOCK_RAW; no service means port 0.
  addrinfo* first = nullptr;
  const int lookup = ::getaddrinfo(hostName.data(), nullptr, &hints, &first);
  // Most host names have no IPv6 address: the other rules then decide.
  if (lookup != 0 && family == Family::V6) return {};
  // The lookup returns its own error; the last-error value may be stale.
  if (lookup != 0) throw CV_SocketException(lookup, "getaddrinfo");
  const AddressInfoList resolved(first);
  std::vector<Address> addresses;
  for (const addrinfo* entry = resolved.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != hints.ai_family || entry->ai_addr == nullptr) continue;
    SocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    addresses.push_back(endpointOf(address).address);
  }
  return addresses;
}

}  // namespace net
