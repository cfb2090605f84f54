// The host's IPv4 interfaces, as getifaddrs lists them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "net/platform.h"

namespace net::linux_if {

struct Interface {
  std::string name;
  unsigned int flags;
  in_addr address;
};

// Throws CV_SocketException(operation) with errno when the list can't be read.
std::vector<Interface> ipv4Interfaces(const char* operationOnFailure);

std::optional<Interface> interfaceWithAddress(const std::vector<Interface>& interfaces,
                                              const in_addr& address);

}  // namespace net::linux_if
