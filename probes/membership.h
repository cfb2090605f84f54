// Group membership requests, built afresh for each call, on the interface
// holding `interfaceAddress`; 0.0.0.0 lets the platform pick it. An
// unparsable address text becomes 255.255.255.255 and the platform judges it.
#pragma once

#include <string>

#include "net/socket.h"

inline constexpr in_addr kAnyInterface{};

void requestMembership(net::Socket& socket, int option, const std::string& group,
                       const in_addr& interfaceAddress = kAnyInterface);
void requestSourceMembership(net::Socket& socket, int option, const std::string& group,
                             const std::string& source,
                             const in_addr& interfaceAddress = kAnyInterface);
