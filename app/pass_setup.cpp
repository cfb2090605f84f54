#include "app/pass_setup.h"

#include <string>

PassSetup preparePass(const options::RunOptions& options,
                      const std::optional<net::LinkInterface>& chosenByOption) {
  PassSetup setup;
  if (chosenByOption) {
    setup.link.chosen = chosenByOption;
  } else {
    setup.link = net::defaultPassLink();
  }
  setup.asmGroup = options.asmGroup;
  setup.ssmChannel = options.ssmChannel;
  return setup;
}

std::variant<std::optional<net::LinkInterface>, options::EarlyExit> interfaceFromOptions(
    const options::RunOptions& options) {
  if (!options.interfaceChoice) return std::nullopt;
  std::variant<net::LinkInterface, std::string> found;
  try {
    found = net::interfaceForOption(net::hostInterfaces(), *options.interfaceChoice);
  } catch (const net::CV_SocketException& failure) {
    return options::usageError("--interface: cannot list this host's interfaces (error " +
                               std::to_string(failure.errorCode) + ")");
  }
  if (const auto* problem = std::get_if<std::string>(&found)) {
    return options::usageError(*problem);
  }
  return std::get<net::LinkInterface>(found);
}
