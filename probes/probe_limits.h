#pragma once

#include <cstddef>

// The most a probe keeps of each kind of packet-derived entry from one test.
// A flood of forged sources must neither grow the record without bound nor
// turn the report into megabytes: what arrives beyond a bound is counted,
// not kept, and the report says how much that was.

// Membership Queries (IGMP or MLD) of any group.
inline constexpr std::size_t kMaxQueriesKept = 256;
// PIM neighbours, by the sender of their Hellos.
inline constexpr std::size_t kMaxHelloSendersKept = 256;
// Senders of Candidate-RP-Advertisements (and IPv6 Bootstrap messages).
inline constexpr std::size_t kMaxRpAdvertisersKept = 256;
// Distinct senders heard on a beacon's group and port.
inline constexpr std::size_t kMaxBeaconMembersKept = 256;
// Distinct senders of a beacon's datagrams that a capture of the link saw.
inline constexpr std::size_t kMaxLinkSendersKept = 256;
// Hosts answering a ping to a link-local group.
inline constexpr std::size_t kMaxEchoRepliersKept = 256;
