// A capture of one beacon's traffic as it reaches the pass's interface.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "net/interfaces.h"
#include "net/network.h"

namespace net {

// The libpcap filter expression of one beacon's UDP datagrams: to the group
// and port, from `source` alone when given. Port tests keep IPv4's first
// fragments alone, as only they carry the UDP header, and IPv6 datagrams
// whose UDP header follows the fixed one, as a beacon's does.
std::string beaconFilter(const Endpoint& groupAndPort, const std::optional<Address>& source);

// What Network::openBeaconCapture opens on this platform: nullptr where it
// has no such capture, or for an interface known only by its address.
std::unique_ptr<ProbeSocket> openBeaconCapture(const Endpoint& groupAndPort,
                                               const std::optional<Address>& source,
                                               const PassLink& link);

}  // namespace net
