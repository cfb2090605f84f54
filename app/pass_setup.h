// What one pass of the battery runs with: the one link every test uses, and
// the beacons of tests 1, 2, 5 and 6. Fixed before the first test.
#pragma once

#include <map>
#include <optional>
#include <variant>

#include "app/options.h"
#include "net/interfaces.h"

struct PassSetup {
  net::Family family = net::Family::V4;
  net::PassLink link;
  options::AsmGroup asmGroup;
  options::SsmChannel ssmChannel;

  // How the interface was found; nothing when finding it failed.
  [[nodiscard]] std::optional<net::ChosenBy> chosenBy() const {
    if (!link.chosen) return std::nullopt;
    return link.chosen->chosenBy;
  }
  // The interface that joins go out on; 0 (the platform's pick) when none
  // was found.
  [[nodiscard]] unsigned int interfaceIndex() const {
    return link.chosen ? link.chosen->index : 0U;
  }
};

// The interface -i names, as each family the run tests uses it, checked
// against this host's interfaces: none without the option, a usage error
// when it cannot be used.
using LinksByOption = std::map<net::Family, net::LinkInterface>;
std::variant<LinksByOption, options::EarlyExit> interfacesFromOptions(
    const options::RunOptions& options);

// The battery of `family`'s setup: the interface given by -i, already
// checked, or the default rule run now on this host's own lists.
PassSetup preparePass(const options::RunOptions& options, net::Family family,
                      const LinksByOption& byOption);
