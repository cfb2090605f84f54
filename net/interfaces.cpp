#include "net/interfaces.h"

#include <algorithm>

#include "net/platform.h"
#include "net/unique_socket.h"

namespace net {

namespace {

bool upAndNotLoopback(const HostInterface& candidate, Family family) {
  return holds(candidate, family) && candidate.up && !candidate.loopback;
}

// The same address, whatever zone a link-local one names.
bool sameAddress(const Address& a, const Address& b) {
  return a.family() == b.family() &&
         std::equal(a.bytes().begin(), a.bytes().end(), b.bytes().begin());
}

// The link as the tests use it; for IPv6 by the interface's link-local
// address, without which it does not qualify.
std::optional<LinkInterface> linkOf(const std::vector<HostInterface>& interfaces,
                                    const HostInterface& chosen, ChosenBy how) {
  if (chosen.address.isV4()) {
    LinkInterface link{chosen.name, chosen.index, chosen.address, how, chosen.prefixLength};
    for (const HostInterface& entry : interfaces) {
      if (entry.index != chosen.index || !holds(entry, Family::V4) || entry.prefixLength <= 0 ||
          sameAddress(entry.address, chosen.address)) {
        continue;
      }
      const auto prefix = Prefix::of(entry.address, entry.prefixLength);
      if (prefix && std::find(link.otherPrefixes.begin(), link.otherPrefixes.end(), *prefix) ==
                        link.otherPrefixes.end()) {
        link.otherPrefixes.push_back(*prefix);
      }
    }
    return link;
  }
  for (const HostInterface& entry : interfaces) {
    if (entry.name == chosen.name && holds(entry, Family::V6) && entry.address.isLinkLocal()) {
      return LinkInterface{chosen.name, chosen.index, entry.address.withScope(chosen.index), how,
                           entry.prefixLength};
    }
  }
  return std::nullopt;
}

}  // namespace

bool holds(const HostInterface& entry, Family family) {
  return family == Family::V4 ? entry.hasIpv4 : entry.hasIpv6;
}

const HostInterface* holderOf(const std::vector<HostInterface>& interfaces,
                              const Address& address) {
  const auto found = std::find_if(interfaces.begin(), interfaces.end(), [&](const auto& c) {
    return holds(c, address.family()) && sameAddress(c.address, address);
  });
  return found == interfaces.end() ? nullptr : &*found;
}

std::optional<Prefix> onLinkPrefix(const LinkInterface& link) {
  if (link.prefixLength <= 0) return std::nullopt;
  return Prefix::of(link.address, link.prefixLength);
}

std::vector<Prefix> onLinkPrefixes(const LinkInterface& link) {
  std::vector<Prefix> prefixes;
  if (const auto first = onLinkPrefix(link)) prefixes.push_back(*first);
  for (const Prefix& other : link.otherPrefixes) {
    if (std::find(prefixes.begin(), prefixes.end(), other) == prefixes.end()) {
      prefixes.push_back(other);
    }
  }
  return prefixes;
}

bool onLink(const LinkInterface& link, const Address& address) {
  const auto prefix = onLinkPrefix(link);
  return prefix && prefix->contains(address);
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
                                                    const RouteSource& routeSource, Family family) {
  const auto qualifies = [&](const HostInterface* holder,
                             ChosenBy how) -> std::optional<LinkInterface> {
    if (holder == nullptr || !upAndNotLoopback(*holder, family)) return std::nullopt;
    return linkOf(interfaces, *holder, how);
  };
  // Debian maps the host name to 127.0.1.1, where a raw socket sends into
  // nothing: only an address on a real, switched-on link counts.
  for (const Address& address : nameAddresses) {
    if (auto link = qualifies(holderOf(interfaces, address), ChosenBy::HostName)) return link;
  }
  if (const std::optional<Address> source = routeSource()) {
    if (auto link = qualifies(holderOf(interfaces, *source), ChosenBy::MulticastRoute)) {
      return link;
    }
  }
  // A link without carrier would test nothing.
  for (const HostInterface& candidate : interfaces) {
    if (!candidate.running || !candidate.multicast) continue;
    if (auto link = qualifies(&candidate, ChosenBy::FirstUp)) return link;
  }
  if (nameAddresses.empty() || family != Family::V4) return std::nullopt;
  return LinkInterface{"", 0, nameAddresses.front(), ChosenBy::HostName};
}

std::variant<LinkInterface, std::string> interfaceForOption(
    const std::vector<HostInterface>& interfaces, const std::string& nameOrAddress, Family family) {
  const char* familyName = family == Family::V4 ? "IPv4 address" : "IPv6 link-local address";
  const HostInterface* chosen = nullptr;
  // An address of the other family reads as a name, which no interface has.
  const auto address = Address::parse(nameOrAddress);
  if (address && address->family() == family) {
    chosen = holderOf(interfaces, *address);
    if (chosen == nullptr) return "--interface: no interface of this host holds " + nameOrAddress;
  } else {
    bool named = false;
    for (const HostInterface& candidate : interfaces) {
      if (candidate.name != nameOrAddress) continue;
      named = true;
      if (holds(candidate, family)) {
        chosen = &candidate;
        break;
      }
    }
    if (!named) return "--interface: this host has no interface named '" + nameOrAddress + "'";
    if (chosen == nullptr) {
      return "--interface: interface " + nameOrAddress + " has no " + familyName;
    }
  }
  if (!chosen->up) return "--interface: interface " + chosen->name + " is down";
  if (auto link = linkOf(interfaces, *chosen, ChosenBy::Option)) return *link;
  return "--interface: interface " + chosen->name + " has no " + familyName;
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

std::optional<Address> multicastRouteSource(Family family) {
  // IPv6 link-local groups need a zone; a global address goes the default route.
  static const Address kGlobalIpv6 = *Address::parseV6("2000::1");
  return routeSourceFor(family == Family::V4 ? kAllRoutersGroup : kGlobalIpv6);
}

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

PassLink defaultPassLink(Family family) {
  PassLink link;
  try {
    // The name first: its failure is what the raw-socket tests report.
    const std::vector<Address> nameAddresses = hostNameAddresses(family);
    link.chosen = chooseDefaultInterface(
        hostInterfaces(), nameAddresses, [family] { return multicastRouteSource(family); }, family);
  } catch (const CV_SocketException& failure) {
    link.failure = failure;
  }
  return link;
}

CV_SocketException noSuchDevice(const char* operation) {
  return CV_SocketException(kNoSuchDeviceError, operation);
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
