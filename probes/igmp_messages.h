// IGMP as a host speaks it (RFC 2236, RFC 3376), and the reading of the
// queries a router sends back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "net/platform.h"

// The fields every IGMP message begins with (RFC 2236, RFC 3376 4.1).
inline constexpr std::uint8_t kIgmpMembershipQuery = 0x11;
inline constexpr std::size_t kIgmpTypeOffset = 0;
inline constexpr std::size_t kIgmpGroupOffset = 4;

inline constexpr std::uint8_t kIgmpV3AllowNewSources = 5;
inline constexpr std::uint8_t kIgmpV3BlockOldSources = 6;

//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// | Type 0x16/0x17|  Max Resp 0   |           Checksum            |
// +---------------+---------------+-------------------------------+
// |                         Group Address                         |
// +---------------------------------------------------------------+
std::array<std::uint8_t, 8> igmpV2Report(const in_addr& group);
std::array<std::uint8_t, 8> igmpV2Leave(const in_addr& group);

// +---------------+---------------+-------------------------------+
// |  Type = 0x22  |   Reserved    |           Checksum            |
// +---------------+---------------+-------------------------------+
// |           Reserved            |  Number of Group Records = 1  |
// +---------------+---------------+-------------------------------+
// |  Record Type  | Aux Data Len 0|     Number of Sources = 1     |
// +---------------+---------------+-------------------------------+
// |                       Multicast Address                       |
// +---------------------------------------------------------------+
// |                        Source Address                         |
// +---------------------------------------------------------------+
std::array<std::uint8_t, 20> igmpV3Report(const in_addr& group, const in_addr& source,
                                          std::uint8_t recordType);

struct MembershipQuery {
  // The query names `group`, or no group at all (a general query): either
  // way a router answered for the group the host spoke of.
  bool asksAboutGroup = false;
};

// For a captured datagram (IPv4 header first): nothing when it is not a
// Membership Query or is cut short.
std::optional<MembershipQuery> readMembershipQuery(std::span<const std::uint8_t> datagram,
                                                   const in_addr& group);
