// IGMP as a host speaks it (RFC 2236, RFC 3376), and the reading of the
// queries a router sends back. IGMP is IPv4's alone: every address here is
// an IPv4 one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "net/address.h"
#include "net/capture/capture_request.h"

inline constexpr int kIgmpProtocol = 2;

inline constexpr std::uint8_t kIgmpV3AllowNewSources = 5;
inline constexpr std::uint8_t kIgmpV3BlockOldSources = 6;

//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// | Type 0x16/0x17|  Max Resp 0   |           Checksum            |
// +---------------+---------------+-------------------------------+
// |                         Group Address                         |
// +---------------------------------------------------------------+
std::array<std::uint8_t, 8> igmpV2Report(const net::Address& group);
std::array<std::uint8_t, 8> igmpV2Leave(const net::Address& group);

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
std::array<std::uint8_t, 20> igmpV3Report(const net::Address& group, const net::Address& source,
                                          std::uint8_t recordType);

// The most sources of one group-and-source query kept: the diagnosis needs
// to know that a query named sources, not every one of a flood.
inline constexpr std::size_t kMaxQuerySourcesKept = 16;

// What a captured Membership Query (IGMP) or Multicast Listener Query (MLD,
// probes/mld_messages.h) says about the router that sent it.
//
// An IGMPv3 query (RFC 3376 4.1) after the 8 bytes IGMPv2 has:
// +-------+-+-----+---------------+-------------------------------+
// | Resv  |S| QRV |     QQIC      |     Number of Sources (N)     |
// +-------+-+-----+---------------+-------------------------------+
// |                       Source Address [1..N]                   |
struct MembershipQuery {
  net::Address sender;
  net::Address destination;
  // IGMP: 1, 2 or 3, as the message's length and Max Resp Code show (RFC
  // 3376 7.1). MLD: 1 or 2, as the message's length shows (RFC 3810 8.1).
  int version = 0;
  // 0.0.0.0 or :: for a general query.
  net::Address group;
  std::uint32_t maxResponseMs = 0;
  // IGMPv3 and MLDv2 only: the querier's robustness variable (0: not told,
  // RFC 3376 4.1.6) and its query interval in seconds from QQIC (4.1.7).
  std::optional<std::uint8_t> robustness;
  std::optional<std::uint32_t> queryIntervalSeconds;
  // IGMPv3 and MLDv2 only: the number of sources the query names, and the
  // first of them.
  std::uint16_t sourceCount = 0;
  std::vector<net::Address> sources;
};

// For a captured datagram (IPv4 header first): nothing unless it is an IGMP
// Membership Query of 8 bytes, or of 12 bytes or more (IGMPv3); RFC 3376 7.1
// has a router ignore any other length, and so does this reader.
std::optional<MembershipQuery> readMembershipQuery(std::span<const std::uint8_t> datagram);

// What the IGMP probe's capture keeps in the kernel: every IGMP message
// that begins as a Membership Query (type 0x11). Any query counts, for any
// group, so that no query readMembershipQuery would read is dropped.
net::CaptureRequest membershipQueryCapture();

// The query names `group`, or no group at all (a general query): either way
// a router answered for the group the host spoke of.
bool asksAbout(const MembershipQuery& query, const net::Address& group);

// The Max Resp Code of an IGMPv3 query in milliseconds: below 128 it counts
// tenths of a second, from 128 on it is a floating-point value.
std::uint32_t igmpV3MaxResponseMs(std::uint8_t code);

// An IGMPv3 code in its floating-point form (RFC 3376 4.1.1, 4.1.7): below
// 128 the value itself, from 128 on (mantissa | 0x10) << (exponent + 3).
std::uint32_t igmpV3CodeValue(std::uint8_t code);
