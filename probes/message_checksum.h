// The checksum of a captured IGMP, MLD or PIM message: a message that fails
// it was damaged or forged carelessly, and is counted rather than believed.
#pragma once

#include <cstdint>
#include <span>

// For a datagram (IPv4 or IPv6 header first) whose message a reader has
// accepted: whether the message's checksum holds. IPv4's covers the message
// alone (IGMP, PIM); IPv6's also its pseudo-header (RFC 8200 8.1: ICMPv6 and
// PIM). PIM's covers the whole message, as for every type the probes read.
bool messageChecksumHolds(std::span<const std::uint8_t> datagram);
