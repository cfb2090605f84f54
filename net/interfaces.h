// The host's IPv4 interfaces, and the one link that every test of a pass uses.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "net/address.h"
#include "net/socket_exceptions.h"

namespace net {

// One IPv4 address of an interface; an interface without one is listed once
// with hasIpv4 false, so that its name is still known.
struct HostInterface {
  std::string name;
  unsigned int index = 0;
  Address address;
  bool hasIpv4 = false;
  bool up = false;       // switched on
  bool running = false;  // and its link has carrier
  bool multicast = false;
  bool loopback = false;
  // The length of the address's on-link prefix (24 for a /24); 0 when unknown.
  int prefixLength = 0;
  // An entry of one IPv6 address of the interface (hasIpv4 false).
  bool hasIpv6 = false;
};

// Whether the entry holds an address of `family`.
bool holds(const HostInterface& entry, Family family);

// The entry of `interfaces` that holds `address`, whatever zone a link-local
// one names; null when none does.
const HostInterface* holderOf(const std::vector<HostInterface>& interfaces, const Address& address);

// How the pass's interface was found; its text is what machine-read output names.
enum class ChosenBy { Option, HostName, MulticastRoute, FirstUp };
const char* chosenByText(ChosenBy how);  // "option", "host-name", ...

struct LinkInterface {
  std::string name;
  // 0 when no interface qualified and only the host name's address is known.
  unsigned int index = 0;
  // IPv4: the address the tests bind to. IPv6: the interface's link-local
  // address (with the interface as its scope), which MLD and PIM speak from.
  Address address;
  ChosenBy chosenBy = ChosenBy::HostName;
  // The on-link prefix of `address`; 0 when unknown.
  int prefixLength = 0;
  // IPv4: the on-link prefixes of the interface's other addresses (secondary
  // ones), whose routers are on this link as much as the first's.
  std::vector<Prefix> otherPrefixes = {};
};

// The on-link prefix of `link` (10.0.1.0/24 for 10.0.1.2 in a /24); nothing
// when its length is unknown.
std::optional<Prefix> onLinkPrefix(const LinkInterface& link);

// The on-link prefix of `link` first, then those of its other addresses.
std::vector<Prefix> onLinkPrefixes(const LinkInterface& link);

// Whether `address` lies in the on-link prefix of `link`; false when the
// prefix is unknown or the families differ.
bool onLink(const LinkInterface& link, const Address& address);

// The link as the probes get it: the interface, or the failure that finding
// it met (the host name did not resolve, the list could not be read), which
// the raw-socket tests report where they bind.
struct PassLink {
  std::optional<LinkInterface> chosen;
  std::optional<CV_SocketException> failure;
};

// The interface a socket of the pass binds to. Throws the failure that
// finding it met, if it met one, or "no such device" from Bind when there is
// none.
const LinkInterface& requireLinkToBindTo(const PassLink& link);

// The failure of a call on an interface that is gone (or down), as the
// platform names it.
CV_SocketException noSuchDevice(const char* operation);

// What the platform tells; each throws CV_SocketException on failure.
std::vector<HostInterface> hostInterfaces();
// The addresses of `family` the host's own name resolves to, in the
// resolver's order.
std::vector<Address> hostNameAddresses(Family family = Family::V4);
// The source address of a UDP socket connected to 224.0.0.2 (IPv4), or to a
// global address through the default route (IPv6): where the kernel would
// send multicast from. Nothing when it has no route.
std::optional<Address> multicastRouteSource(Family family = Family::V4);
// The name of the interface the host would send to `destination` from, by
// the source address its route picks; nothing without a route or a holder.
std::optional<std::string> routeInterface(const Address& destination);
// The interfaces the host's route to `destination` leaves by, as the kernel
// looks it up for reverse-path filtering on `link` (in its VRF, if it is
// in one): one, or each next hop's of a multipath route; empty when no route
// leads there at all; nothing when the platform does not tell.
std::optional<std::vector<std::string>> routeInterfacesTo(const Address& destination,
                                                          const LinkInterface* link);

// Without an option: (a) the up, non-loopback interface holding the first of
// the host name's addresses that one holds; else (b) the up, non-loopback
// interface holding the multicast route's source; else (c) the first
// interface that is up, running, multicast-capable and not loopback. With
// none of them, the host name's first address alone (index 0). The route is
// asked for only when the name decides nothing.
using RouteSource = std::function<std::optional<Address>()>;
// For IPv6 the same rule, on the interfaces' IPv6 addresses, and a link
// qualifies only with a link-local address.
std::optional<LinkInterface> chooseDefaultInterface(const std::vector<HostInterface>& interfaces,
                                                    const std::vector<Address>& nameAddresses,
                                                    const RouteSource& routeSource,
                                                    Family family = Family::V4);

// The interface named by -i (a name or one of its addresses of `family`), or
// why it cannot be used, as one line.
std::variant<LinkInterface, std::string> interfaceForOption(
    const std::vector<HostInterface>& interfaces, const std::string& nameOrAddress,
    Family family = Family::V4);

// The whole default rule on this host's own lists; failures land in `failure`.
PassLink defaultPassLink(Family family = Family::V4);

// Throws CV_SocketException(operation) with the platform's "no such device"
// number when the interface is no longer up: a join on a link that is down
// could hear nothing, and the platform itself refuses one it cannot route.
void requireInterfaceUp(const LinkInterface& link, const char* operation);

}  // namespace net
