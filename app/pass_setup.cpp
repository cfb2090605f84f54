#include "app/pass_setup.h"

#include <string>

PassSetup preparePass(const options::RunOptions& options, net::Family family,
                      const LinksByOption& byOption) {
  PassSetup setup;
  setup.family = family;
  if (const auto chosen = byOption.find(family); chosen != byOption.end()) {
    setup.link.chosen = chosen->second;
  } else {
    setup.link = net::defaultPassLink(family);
  }
  setup.asmGroup = options.asmGroupOf(family);
  setup.ssmChannel = options.ssmChannelOf(family);
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
