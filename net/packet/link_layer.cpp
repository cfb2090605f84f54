#include "net/packet/link_layer.h"

#include "net/packet/wire.h"

namespace net {

namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeIpv6 = 0x86DD;

// Ethernet: destination, source, EtherType.
constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kEthernetTypeAt = 12;
// Linux cooked v1: packet type, link type, address length, 8 address bytes,
// protocol.
constexpr std::size_t kCookedHeader = 16;
constexpr std::size_t kCookedTypeAt = 14;
// Linux cooked v2: protocol first, then reserved, interface, link type,
// packet type, address length and 8 address bytes.
constexpr std::size_t kCooked2Header = 20;
constexpr std::size_t kCooked2TypeAt = 0;

// The datagram after a link header of `headerLength` bytes whose EtherType
// sits at `typeAt`, when that type is IP's.
std::optional<std::span<const std::uint8_t>> afterHeader(std::span<const std::uint8_t> frame,
                                                         std::size_t headerLength,
                                                         std::size_t typeAt) {
  const auto type = readBe16(frame, typeAt);
  if (frame.size() < headerLength || !type) return std::nullopt;
  if (*type != kEtherTypeIpv4 && *type != kEtherTypeIpv6) return std::nullopt;
  return frame.subspan(headerLength);
}

}  // namespace

bool isReadableLinkType(int linkType) {
  switch (static_cast<LinkType>(linkType)) {
    case LinkType::Ethernet:
    case LinkType::RawIp:
    case LinkType::LinuxCooked:
    case LinkType::Ipv4:
    case LinkType::Ipv6:
    case LinkType::LinuxCooked2:
      return true;
  }
  return false;
}

std::optional<std::span<const std::uint8_t>> ipDatagramOf(int linkType,
                                                          std::span<const std::uint8_t> frame) {
  switch (static_cast<LinkType>(linkType)) {
    case LinkType::Ethernet:
      return afterHeader(frame, kEthernetHeader, kEthernetTypeAt);
    case LinkType::LinuxCooked:
      return afterHeader(frame, kCookedHeader, kCookedTypeAt);
    case LinkType::LinuxCooked2:
      return afterHeader(frame, kCooked2Header, kCooked2TypeAt);
    case LinkType::RawIp:
    case LinkType::Ipv4:
    case LinkType::Ipv6:
      return frame;
  }
  return std::nullopt;
}

}  // namespace net
