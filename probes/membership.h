// Group membership requests, built afresh for each call. The interface is
// 0.0.0.0 so that the platform picks it; an unparsable address text becomes
// 255.255.255.255 and the platform judges it.
#pragma once

#include <string>

#include "net/socket.h"

void requestMembership(Socket& socket, int option, const std::string& group);
void requestSourceMembership(Socket& socket, int option, const std::string& group,
                             const std::string& source);
