// The ICMP and ICMPv6 echo requests a pinger sends and the test their
// replies must pass.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "net/address.h"
#include "net/capture/capture_request.h"

// +---------------+---------------+-------------------------------+
// |   Type = 8    |   Code = 0    |           Checksum            |
// +---------------+---------------+-------------------------------+
// |  Identifier (low byte first)  |  Sequence (low byte first)    |
// +-------------------------------+-------------------------------+
// Identifier and sequence go least significant byte first; a reply carries
// the identifier back in the same bytes, so it is read the same way.
std::array<std::uint8_t, 8> echoRequest(std::uint16_t identifier, std::uint16_t sequence);

// +---------------+---------------+-------------------------------+
// |  Type = 128   |   Code = 0    |         Checksum (0)          |
// +---------------+---------------+-------------------------------+
// |  Identifier (low byte first)  |  Sequence (low byte first)    |
// +-------------------------------+-------------------------------+
// ICMPv6's echo request (RFC 4443 4.1), in IPv4's byte order. The checksum
// is left zero: on a raw ICMPv6 socket the kernel computes it (RFC 3542 3.1).
std::array<std::uint8_t, 8> echoRequestV6(std::uint16_t identifier, std::uint16_t sequence);

// The identifier this process's requests carry: the low 16 bits of its
// process ID, so that replies to other pingers on the host are told apart.
std::uint16_t echoIdentifier(std::uint32_t processId);

// The sender of a captured datagram (IP header first) that is an echo reply
// carrying `identifier`: ICMP type 0 in IPv4, ICMPv6 type 129 in IPv6.
// Nothing for requests, other identifiers and runts.
std::optional<net::Address> echoReplySender(std::span<const std::uint8_t> datagram,
                                            std::uint16_t identifier);

// What the pinger's raw socket keeps in the kernel: echo replies (ICMP type
// 0, ICMPv6 type 129) whose identifier bytes are the ones the request
// builders wrote for `identifier`, low byte first, so that replies to other
// pingers on the host never reach the probe.
net::CaptureRequest echoReplyCapture(net::Family family, std::uint16_t identifier);
