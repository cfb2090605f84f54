// The PIM Hello this tool sends (RFC 7761 4.9.2) and the reading of the PIM
// messages it hears.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "net/address.h"
#include "net/capture/capture_request.h"

inline constexpr int kPimProtocol = 103;

// +-------+-------+---------------+-------------------------------+
// |PIM v2 |Hello 0|   Reserved    |           Checksum            |
// +-------+-------+---------------+-------------------------------+
// |  Option Type 1 (Holdtime)     |       Option Length 2         |
// |  Holdtime 30                  |  Option Type 19 (DR Priority) |
// |       Option Length 4         |   DR Priority 0 (32 bits) ... |
// |          ... DR Priority      | Option Type 20 (Generation ID)|
// |       Option Length 4         |   Generation ID (32 bits) ... |
// |          ... Generation ID    |
// +-------------------------------+
// DR Priority 0 leaves the link's DR to the routers; a fresh Generation ID
// makes every Hello a new neighbour's, which a router answers at once.
// Holdtime 0 is the goodbye (RFC 7761 4.3.1): the routers forget the
// neighbour at once, so the host is one only while it listens.
inline constexpr std::uint16_t kPimHelloHoldtimeSeconds = 30;
inline constexpr std::uint16_t kPimGoodbyeHoldtimeSeconds = 0;
std::array<std::uint8_t, 26> pimHello(std::uint32_t generationId,
                                      std::uint16_t holdtimeSeconds = kPimHelloHoldtimeSeconds);

// The same Hello for IPv6, where the checksum also covers the pseudo-header
// (RFC 7761 4.9: source, destination, length, next header 103), so the
// addresses the datagram goes between must be known: the link-local source
// the kernel will use, and ff02::d. Throws std::invalid_argument unless both
// are IPv6.
std::array<std::uint8_t, 26> pimHelloV6(std::uint32_t generationId, const net::Address& source,
                                        const net::Address& destination,
                                        std::uint16_t holdtimeSeconds = kPimHelloHoldtimeSeconds);

// A Generation ID drawn from `entropy`. A host without a working entropy
// source (std::random_device throws there) still gets one, mixed from the
// clock and the process ID: it only has to differ from the last run's.
std::uint32_t generationIdFrom(const std::function<std::uint32_t()>& entropy);

// The options of a Hello that tell a neighbour apart: how long it holds, how
// it stands for DR, and its Generation ID.
struct HelloOptions {
  std::optional<std::uint16_t> holdtimeSeconds;
  std::optional<std::uint32_t> drPriority;
  std::optional<std::uint32_t> generationId;
  // The sender's other addresses on the link (Address List): a router with
  // several subnets on one interface names them in its Hellos.
  std::vector<net::Address> otherAddresses = {};
};

struct PimMessage {
  // Bootstrap messages are RP evidence to the IPv6 battery only; the IPv4
  // prober passes them over as it does Other.
  enum class Type { Hello, CandidateRpAdvertisement, Bootstrap, Other };
  Type type = Type::Other;
  net::Address sender;
  // Read from a Hello only. Options are read while whole; an option cut
  // short ends the reading, and one of the wrong length is passed over.
  HelloOptions hello;
};

// For a captured datagram (IPv4 or IPv6 header first): nothing unless it
// carries a PIM version 2 message (protocol or last next header 103) with its
// whole 4-byte header.
std::optional<PimMessage> readPimMessage(std::span<const std::uint8_t> datagram);
// The same for a capture of one family: nothing from a datagram of the other
// (an IPv4 PIM datagram in an IPv6 frame is no PIMv6 neighbour).
std::optional<PimMessage> readPimMessage(std::span<const std::uint8_t> datagram,
                                         net::Family expected);

// What the PIM probe's capture keeps in the kernel: messages of IP protocol
// 103 that begin as a version 2 Hello (0x20) or Candidate-RP-Advertisement
// (0x28), the two types the probe counts, and in IPv6 Bootstrap messages
// (0x24) too, the RP evidence of the IPv6 battery.
net::CaptureRequest pimMessageCapture(net::Family family);
