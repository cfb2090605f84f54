// Group membership requests on a socket, built afresh for each call, on the
// interface holding `interfaceAddress`; 0.0.0.0 lets the platform pick it.
#pragma once

#include "net/platform.h"
#include "net/socket.h"

namespace net {

inline constexpr in_addr kAnyInterface{};

enum class Membership { Join, Leave };

void changeMembership(Socket& socket, Membership change, const in_addr& group,
                      const in_addr& interfaceAddress = kAnyInterface);
void changeSourceMembership(Socket& socket, Membership change, const in_addr& group,
                            const in_addr& source, const in_addr& interfaceAddress = kAnyInterface);

}  // namespace net
