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

std::vector<Address> hostNameAddresses() {
  std::array<char, 1024> hostName{};
  if (os::hostName(hostName) == -1) throwSocketError("gethostname");
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_flags = AI_PASSIVE;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_RAW;
  hints.ai_protocol = IPPROTO_IGMP;
  // glibc refuses the service "0" with SOCK_RAW; no service means port 0.
  addrinfo* first = nullptr;
  const int lookup = ::getaddrinfo(hostName.data(), nullptr, &hints, &first);
  // The lookup returns its own error; the last-error value may be stale.
  if (lookup != 0) throw CV_SocketException(lookup, "getaddrinfo");
  const AddressInfoList resolved(first);
  std::vector<Address> addresses;
  for (const addrinfo* entry = resolved.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    SocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, sizeof(sockaddr_in));
    addresses.push_back(endpointOf(address).address);
  }
  return addresses;
}

}  // namespace net
