#include "net/interfaces.h"

#include <algorithm>

#include "net/platform.h"
#include "net/unique_socket.h"

namespace net {

namespace {

bool upAndNotLoopback(const HostInterface& candidate) {
  return candidate.hasIpv4 && candidate.up && !candidate.loopback;
}

const HostInterface* holderOf(const std::vector<HostInterface>& interfaces,
                              const Address& address) {
  const auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                  [&](const auto& c) { return c.hasIpv4 && c.address == address; });
  return found == interfaces.end() ? nullptr : &*found;
}

LinkInterface linkOf(const HostInterface& chosen, ChosenBy how) {
  return LinkInterface{chosen.name, chosen.index, chosen.address, how, chosen.prefixLength};
}

}  // namespace

bool onLink(const LinkInterface& link, const Address& address) {
  if (link.prefixLength <= 0 || link.address.family() != address.family()) return false;
  const auto ours = link.address.bytes();
  const auto theirs = address.bytes();
  const auto bits = static_cast<std::size_t>(link.prefixLength);
  for (std::size_t bit = 0; bit < bits && bit < 8 * ours.size(); ++bit) {
    const auto mask = static_cast<std::uint8_t>(0x80U >> (bit % 8));
    if ((ours[bit / 8] & mask) != (theirs[bit / 8] & mask)) return false;
  }
  return true;
}

const char* chosenByText(ChosenBy how) {
  switch (how) {
    case ChosenBy::Option:
      return "option";
    case ChosenBy::HostName:
      return "host-name";
    case ChosenBy::MulticastRoute:
      return "multicast-route";
    case ChosenBy::FirstUp:
      return "first-up";
  }
  return "";
}

std::optional<LinkInterface> chooseDefaultInterface(const std::vector<HostInterface>& interfaces,
                                                    const std::vector<Address>& nameAddresses,
                                                    const RouteSource& routeSource) {
  // Debian maps the host name to 127.0.1.1, where a raw socket sends into
  // nothing: only an address on a real, switched-on link counts.
  for (const Address& address : nameAddresses) {
    const HostInterface* holder = holderOf(interfaces, address);
    if (holder != nullptr && upAndNotLoopback(*holder)) return linkOf(*holder, ChosenBy::HostName);
  }
  if (const std::optional<Address> source = routeSource()) {
    const HostInterface* holder = holderOf(interfaces, *source);
    if (holder != nullptr && upAndNotLoopback(*holder)) {
      return linkOf(*holder, ChosenBy::MulticastRoute);
    }
  }
  // A link without carrier would test nothing.
  for (const HostInterface& candidate : interfaces) {
    if (upAndNotLoopback(candidate) && candidate.running && candidate.multicast) {
      return linkOf(candidate, ChosenBy::FirstUp);
    }
  }
  if (nameAddresses.empty()) return std::nullopt;
  return LinkInterface{"", 0, nameAddresses.front(), ChosenBy::HostName};
}

std::variant<LinkInterface, std::string> interfaceForOption(
    const std::vector<HostInterface>& interfaces, const std::string& nameOrAddress) {
  const HostInterface* chosen = nullptr;
  if (const auto address = Address::parseV4(nameOrAddress)) {
    chosen = holderOf(interfaces, *address);
    if (chosen == nullptr) return "--interface: no interface of this host holds " + nameOrAddress;
  } else {
    bool named = false;
    for (const HostInterface& candidate : interfaces) {
      if (candidate.name != nameOrAddress) continue;
      named = true;
      if (candidate.hasIpv4) {
        chosen = &candidate;
        break;
      }
    }
    if (!named) return "--interface: this host has no interface named '" + nameOrAddress + "'";
    if (chosen == nullptr) {
      return "--interface: interface " + nameOrAddress + " has no IPv4 address";
    }
  }
  if (!chosen->up) return "--interface: interface " + chosen->name + " is down";
  return linkOf(*chosen, ChosenBy::Option);
}

namespace {

// The source address the host's routes pick for `destination`. Connecting a
// UDP socket sends nothing; it only fixes the route.
std::optional<Address> routeSourceFor(const Address& destination) {
  const UniqueSocket probe(
      os::openSocket(nativeFamily(destination.family()), SOCK_DGRAM, IPPROTO_UDP));
  if (!probe.valid()) return std::nullopt;
  SocketAddress local;
  if (os::connectTo(probe.get(), socketAddressOf(Endpoint{destination, 9})) != 0 ||
      os::localAddressOf(probe.get(), local) != 0) {
    return std::nullopt;
  }
  const Address source = endpointOf(local).address;
  if (source.isUnspecified()) return std::nullopt;
  return source;
}

}  // namespace

std::optional<Address> multicastRouteSource() { return routeSourceFor(kAllRoutersGroup); }

std::optional<std::string> routeInterface(const Address& destination) {
  const auto source = routeSourceFor(destination);
  if (!source) return std::nullopt;
  std::vector<HostInterface> interfaces;
  try {
    interfaces = hostInterfaces();
  } catch (const CV_SocketException&) {
    return std::nullopt;
  }
  const HostInterface* holder = holderOf(interfaces, *source);
  if (holder == nullptr) return std::nullopt;
  return holder->name;
}

PassLink defaultPassLink() {
  PassLink link;
  try {
    // The name first: its failure is what the raw-socket tests report.
    const std::vector<Address> nameAddresses = hostNameAddresses();
    link.chosen = chooseDefaultInterface(hostInterfaces(), nameAddresses, multicastRouteSource);
  } catch (const CV_SocketException& failure) {
    link.failure = failure;
  }
  return link;
}

const LinkInterface& requireLinkToBindTo(const PassLink& link) {
  if (link.failure) throw *link.failure;
  if (!link.chosen) throw CV_SocketException(kNoSuchDeviceError, "Bind");
  return *link.chosen;
}

void requireInterfaceUp(const LinkInterface& link, const char* operation) {
  if (link.index == 0) return;
  for (const HostInterface& candidate : hostInterfaces()) {
    if (candidate.index == link.index && candidate.up) return;
  }
  throw CV_SocketException(kNoSuchDeviceError, operation);
}

}  // namespace net
