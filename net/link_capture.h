// A capture of one beacon's traffic as it reaches the pass's interface.
#pragma once

#include <memory>
#include <optional>

#include "net/interfaces.h"
#include "net/network.h"

namespace net {

// What Network::openBeaconCapture opens on this platform; nullptr where it
// has no such capture, or for an interface known only by its address.
std::unique_ptr<ProbeSocket> openBeaconCapture(const Endpoint& groupAndPort,
                                               const std::optional<Address>& source,
                                               const PassLink& link);

}  // namespace net
