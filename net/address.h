// Dotted-quad texts and the socket addresses made of them.
#pragma once

#include <cstdint>
#include <string>

#include "net/platform.h"

namespace net {

// The address in network byte order, or INADDR_NONE (255.255.255.255) for a
// text that is not a dotted-quad address.
std::uint32_t addressFromText(const std::string& text);

// Four decimal numbers without leading zeros, joined by points.
std::string addressText(const in_addr& address);

// {AF_INET, port 0, the text's address}, every other byte zero.
sockaddr_in socketAddress(const std::string& text);

}  // namespace net
