// The options of a captured PIM Hello (RFC 7761 4.9.2) that tell a neighbour
// apart: how long it holds, how it stands for DR, and its Generation ID.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "net/platform.h"

struct HelloDetails {
  in_addr sender{};
  std::optional<std::uint16_t> holdtimeSeconds;
  std::optional<std::uint32_t> drPriority;
  std::optional<std::uint32_t> generationId;
};

// For a captured datagram (IPv4 header first): nothing unless it is a PIMv2
// Hello. Options are read while whole; an option cut short ends the reading,
// and one of the wrong length is passed over.
std::optional<HelloDetails> readHelloDetails(std::span<const std::uint8_t> datagram);
