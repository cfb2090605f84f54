// MLD as a host speaks it (RFC 2710, RFC 3810), and the reading of the
// queries a router sends back. MLD is IPv6's alone, carried in ICMPv6: every
// address here is an IPv6 one.
//
// The builders leave the checksum zero: on a raw ICMPv6 socket the kernel
// computes it (RFC 3542 3.1), over the source address only it chooses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "net/address.h"
#include "net/capture/capture_request.h"
#include "probes/igmp_messages.h"

inline constexpr std::uint8_t kMldV2AllowNewSources = 5;
inline constexpr std::uint8_t kMldV2BlockOldSources = 6;

//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// | Type 131/132  |    Code 0     |         Checksum (0)          |
// +---------------+---------------+-------------------------------+
// |  Maximum Response Delay 0     |           Reserved            |
// +-------------------------------+-------------------------------+
// |                                                               |
// +                 Multicast Address (16 bytes)                  +
// |                                                               |
// +---------------------------------------------------------------+
// A Report (131) or a Done (132), RFC 2710 3. Throws std::invalid_argument
// for an IPv4 group.
std::array<std::uint8_t, 24> mldV1Report(const net::Address& group);
std::array<std::uint8_t, 24> mldV1Done(const net::Address& group);

// +---------------+---------------+-------------------------------+
// |  Type = 143   |   Reserved    |         Checksum (0)          |
// +---------------+---------------+-------------------------------+
// |           Reserved            |  Nr of Mcast Address Records=1|
// +---------------+---------------+-------------------------------+
// |  Record Type  | Aux Data Len 0|     Number of Sources = 1     |
// +---------------+---------------+-------------------------------+
// |                 Multicast Address (16 bytes)                  |
// +---------------------------------------------------------------+
// |                   Source Address (16 bytes)                   |
// +---------------------------------------------------------------+
// RFC 3810 5.2, with one record of `recordType` for the channel (source,
// group). Throws std::invalid_argument for an IPv4 group or source.
std::array<std::uint8_t, 44> mldV2Report(const net::Address& group, const net::Address& source,
                                         std::uint8_t recordType);

// An MLDv2 query (RFC 3810 5.1) after the 24 bytes MLDv1 has:
// +-------+-+-----+---------------+-------------------------------+
// | Resv  |S| QRV |     QQIC      |     Number of Sources (N)     |
// +-------+-+-----+---------------+-------------------------------+
// |                  Source Address [1..N] (16 bytes each)        |
//
// For a captured datagram (IPv6 header first): nothing unless it is a
// Multicast Listener Query (ICMPv6 type 130) of 24 bytes (MLDv1) or of 28
// bytes or more (MLDv2); RFC 3810 8.1 has a node ignore any other length,
// and so does this reader. The query is read as IGMP's is: version 1 or 2,
// the group (:: for a general query), the delay in milliseconds, and for
// MLDv2 QRV, the query interval from QQIC and the sources that arrived whole.
std::optional<MembershipQuery> readMldQuery(std::span<const std::uint8_t> datagram);

// What the MLD probe's capture keeps in the kernel: every Multicast Listener
// Query (ICMPv6 type 130), behind whatever extension headers.
net::CaptureRequest mldQueryCapture();

// An MLDv2 Maximum Response Code in milliseconds (RFC 3810 5.1.3): below
// 32768 the delay itself, from 32768 on (mant | 0x1000) << (exp + 3).
std::uint32_t mldV2MaxResponseMs(std::uint16_t code);
