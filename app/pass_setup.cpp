#include "app/pass_setup.h"

#include <string>

namespace {

// The interface -i named, found afresh by its name: one recreated since (a
// VPN, a bond, a USB NIC) has a new index, perhaps a new address; one gone
// fails this pass's tests with "no such device".
net::PassLink refreshedLink(const net::LinkInterface& chosen, net::Family family) {
  try {
    const auto found = net::interfaceForOption(net::hostInterfaces(), chosen.name, family);
    if (const auto* fresh = std::get_if<net::LinkInterface>(&found)) {
      net::LinkInterface link = *fresh;
      link.chosenBy = chosen.chosenBy;
      return net::PassLink{link, std::nullopt};
    }
  } catch (const net::CV_SocketException& failure) {
    return net::PassLink{std::nullopt, failure};
  }
  return net::PassLink{std::nullopt, net::noSuchDevice("Bind")};
}

}  // namespace

PassSetup preparePass(const options::RunOptions& options, net::Family family,
                      const LinksByOption& byOption) {
  PassSetup setup;
  setup.family = family;
  if (const auto chosen = byOption.find(family); chosen != byOption.end()) {
    setup.link = refreshedLink(chosen->second, family);
  } else {
    setup.link = net::defaultPassLink(family);
  }
  setup.asmGroup = options.beaconsOf(family).asmGroup;
  setup.ssmChannel = options.beaconsOf(family).ssmChannel;
  return setup;
}

std::variant<LinksByOption, options::EarlyExit> interfacesFromOptions(
    const options::RunOptions& options) {
  LinksByOption links;
  if (!options.interfaceChoice) return links;
  std::vector<net::HostInterface> interfaces;
  try {
    interfaces = net::hostInterfaces();
  } catch (const net::CV_SocketException& failure) {
    return options::usageError("--interface: cannot list this host's interfaces (error " +
                               std::to_string(failure.errorCode) + ")");
  }
  for (const net::Family family : options.families) {
    // An address of the other family names its interface, which the tests of
    // this family then use too.
    std::string choice = *options.interfaceChoice;
    const auto address = net::Address::parse(choice);
    if (address && address->family() != family) {
      for (const net::HostInterface& entry : interfaces) {
        if (net::holds(entry, address->family()) &&
            std::equal(entry.address.bytes().begin(), entry.address.bytes().end(),
                       address->bytes().begin(), address->bytes().end())) {
          choice = entry.name;
        }
      }
    }
    const auto found = net::interfaceForOption(interfaces, choice, family);
    if (const auto* problem = std::get_if<std::string>(&found)) {
      return options::usageError(*problem);
    }
    links.emplace(family, std::get<net::LinkInterface>(found));
  }
  return links;
}
