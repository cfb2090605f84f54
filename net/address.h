// IPv4 addresses: parsed from dotted-quad text once, at the edge, and
// written back as text for the report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/platform.h"

namespace net {

// The link-local groups the battery speaks to, in host byte order: all
// routers (RFC 1112), IGMPv3-capable routers (RFC 3376) and PIM routers
// (RFC 7761).
inline constexpr std::uint32_t kAllRoutersGroup = 0xE0000002U;     // 224.0.0.2
inline constexpr std::uint32_t kIgmpV3RoutersGroup = 0xE0000016U;  // 224.0.0.22
inline constexpr std::uint32_t kAllPimRoutersGroup = 0xE000000DU;  // 224.0.0.13

// The address of a host-byte-order number.
in_addr addressOf(std::uint32_t hostOrder);

// Four decimal numbers of 0 to 255 joined by points; nothing for any other text.
std::optional<in_addr> parseAddress(const std::string& text);

// Four decimal numbers without leading zeros, joined by points.
std::string addressText(const in_addr& address);

// {AF_INET, port 0, address}, every other byte zero.
sockaddr_in socketAddress(const in_addr& address);

}  // namespace net
