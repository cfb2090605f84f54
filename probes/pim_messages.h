// The PIM Hello this tool sends (RFC 7761 4.9.2) and the reading of the PIM
// messages it hears.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

inline constexpr int kPimProtocol = 103;

// The version-and-type byte first; Hello options are type, length, value.
inline constexpr std::size_t kPimVersionTypeOffset = 0;
inline constexpr std::uint8_t kPimVersion2Hello = 0x20;
inline constexpr std::uint8_t kPimVersion2CandidateRpAdvertisement = 0x28;
inline constexpr std::uint16_t kPimHoldtimeOption = 1;
inline constexpr std::uint16_t kPimDrPriorityOption = 19;
inline constexpr std::uint16_t kPimGenerationIdOption = 20;
inline constexpr std::size_t kPimOptionLengthOffset = 2;
inline constexpr std::size_t kPimOptionValueOffset = 4;

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
std::array<std::uint8_t, 26> pimHello(std::uint32_t generationId);

// A Generation ID drawn from `entropy`. A host without a working entropy
// source (std::random_device throws there) still gets one, mixed from the
// clock and the process ID: it only has to differ from the last run's.
std::uint32_t generationIdFrom(const std::function<std::uint32_t()>& entropy);

enum class PimMessage { Other, Hello, CandidateRpAdvertisement };

// What a captured datagram (IPv4 header first) carries. Only IP protocol 103
// is PIM; of it only the version and type byte is read.
PimMessage readPimMessage(std::span<const std::uint8_t> datagram);
