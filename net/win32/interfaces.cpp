// The host's interfaces from the IP Helper API.
#include "net/platform.h"
// clang-format off
#include <iphlpapi.h>
// clang-format on

#include <cstring>
#include <vector>

#include "net/interfaces.h"
#include "net/socket.h"

namespace net {

namespace {

std::string narrow(const wchar_t* wide) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return "";
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
  text.resize(static_cast<std::size_t>(length - 1));
  return text;
}

}  // namespace

std::vector<HostInterface> hostInterfaces() {
  ULONG size = 16 * 1024;
  std::vector<std::uint8_t> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the two calls; a few tries settle it.
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = ::GetAdaptersAddresses(
        AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR && result != ERROR_NO_DATA) {
    throw CV_SocketException(static_cast<std::int32_t>(result), "Bind");
  }
  std::vector<HostInterface> interfaces;
  if (result == ERROR_NO_DATA) return interfaces;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    HostInterface found;
    // The friendly name is what users see ("Ethernet"); the adapter name is a GUID.
    found.name = narrow(adapter->FriendlyName);
    found.index = adapter->IfIndex;
    found.up = adapter->OperStatus == IfOperStatusUp;
    found.running = found.up;
    found.multicast = (adapter->Flags & IP_ADAPTER_NO_MULTICAST) == 0U;
    found.loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    bool listed = false;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) {
        continue;
      }
      HostInterface withAddress = found;
      withAddress.hasIpv4 = address->sa_family == AF_INET;
      withAddress.hasIpv6 = address->sa_family == AF_INET6;
      // Windows numbers an adapter apart for each family.
      if (withAddress.hasIpv6) withAddress.index = adapter->Ipv6IfIndex;
      SocketAddress copied;
      std::memcpy(&copied.storage, address,
                  static_cast<std::size_t>(unicast->Address.iSockaddrLength));
      withAddress.address = endpointOf(copied).address;
      withAddress.prefixLength = unicast->OnLinkPrefixLength;
      interfaces.push_back(withAddress);
      listed = true;
    }
    if (!listed) interfaces.push_back(found);
  }
  return interfaces;
}

}  // namespace net

namespace net {

// Windows tells no route's next hops here: the interface whose address the
// route's source is stands for it, and no route is not told from unknown.
std::optional<std::vector<std::string>> routeInterfacesTo(const Address& destination,
                                                          const LinkInterface* /*link*/) {
  const auto name = routeInterface(destination);
  if (!name) return std::nullopt;
  return std::vector<std::string>{*name};
}

}  // namespace net
