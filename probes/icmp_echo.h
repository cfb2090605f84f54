// The ICMP echo request a pinger sends and the test its replies must pass.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "net/address.h"

// +---------------+---------------+-------------------------------+
// |   Type = 8    |   Code = 0    |           Checksum            |
// +---------------+---------------+-------------------------------+
// |  Identifier (low byte first)  |  Sequence (low byte first)    |
// +-------------------------------+-------------------------------+
// Identifier and sequence go least significant byte first; a reply carries
// the identifier back in the same bytes, so it is read the same way.
std::array<std::uint8_t, 8> echoRequest(std::uint16_t identifier, std::uint16_t sequence);

// The identifier this process's requests carry: the low 16 bits of its
// process ID, so that replies to other pingers on the host are told apart.
std::uint16_t echoIdentifier(std::uint32_t processId);

// The sender of a captured datagram (IP header first) that is an echo reply
// carrying `identifier`; nothing for requests, other identifiers and runts.
std::optional<net::Address> echoReplySender(std::span<const std::uint8_t> datagram,
                                            std::uint16_t identifier);

// What the pinger's raw socket keeps in the kernel (a libpcap filter
// expression over the datagram from its IP header on): echo replies whose
// identifier bytes are the ones echoRequest wrote for `identifier`, low byte
// first, so that replies to other pingers on the host never reach the probe.
std::string echoReplyFilter(std::uint16_t identifier);
