// What a captured Membership Query says about the router that sent it: the
// IGMP version its form shows, the group and the response time it asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "net/platform.h"

struct QueryDetails {
  in_addr sender{};
  in_addr destination{};
  // 1, 2 or 3, as the message's length and Max Resp Code show (RFC 3376 7.1).
  int version = 0;
  in_addr group{};
  std::uint32_t maxResponseMs = 0;
};

// For a captured datagram (IPv4 header first): nothing unless it is a whole
// Membership Query of 8 bytes, or of 12 bytes or more (IGMPv3).
std::optional<QueryDetails> readQueryDetails(std::span<const std::uint8_t> datagram);

// The Max Resp Code of an IGMPv3 query in milliseconds: below 128 it counts
// tenths of a second, from 128 on it is a floating-point value.
std::uint32_t igmpV3MaxResponseMs(std::uint8_t code);
