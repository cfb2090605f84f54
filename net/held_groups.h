// Whether the host already holds a group, through a socket of any program:
// a leave or BLOCK the tool sent for such a group would stop that program's
// stream on a router or switch that leaves at once.
#pragma once

#include <string>
#include <string_view>

#include "net/address.h"

namespace net {

// Reads the kernel's membership list in the text Linux gives it
// (/proc/net/igmp for IPv4, /proc/net/igmp6 for IPv6). An empty
// `interfaceName` means any interface.
bool groupListed(std::string_view membershipList, const Address& group,
                 const std::string& interfaceName);

// The host's own list, read now; false where the platform does not tell.
bool hostHoldsGroup(const Address& group, const std::string& interfaceName);

}  // namespace net
