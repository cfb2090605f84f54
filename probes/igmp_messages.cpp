#include "probes/igmp_messages.h"

#include <cstring>

#include "net/ip_datagram.h"
#include "net/wire.h"

namespace {

constexpr std::uint8_t kMembershipQuery = 0x11;
constexpr std::uint8_t kV2MembershipReport = 0x16;
constexpr std::uint8_t kV2LeaveGroup = 0x17;
constexpr std::uint8_t kV3MembershipReport = 0x22;
constexpr std::size_t kChecksumOffset = 2;
constexpr std::size_t kGroupOffset = 4;

// Addresses arrive in network byte order and are copied as they stand.
void putAddress(std::span<std::uint8_t> message, std::size_t offset, const in_addr& address) {
  std::memcpy(message.data() + offset, &address.s_addr, 4);
}

std::array<std::uint8_t, 8> igmpV2Message(std::uint8_t type, const in_addr& group) {
  std::array<std::uint8_t, 8> message{};
  message[0] = type;
  putAddress(message, kGroupOffset, group);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

}  // namespace

std::array<std::uint8_t, 8> igmpV2Report(const in_addr& group) {
  return igmpV2Message(kV2MembershipReport, group);
}

std::array<std::uint8_t, 8> igmpV2Leave(const in_addr& group) {
  return igmpV2Message(kV2LeaveGroup, group);
}

std::array<std::uint8_t, 20> igmpV3Report(const in_addr& group, const in_addr& source,
                                          std::uint8_t recordType) {
  std::array<std::uint8_t, 20> message{};
  message[0] = kV3MembershipReport;
  net::putBe16(message, 6, 1);
  message[8] = recordType;
  net::putBe16(message, 10, 1);
  putAddress(message, 12, group);
  putAddress(message, 16, source);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

std::optional<QueryKind> readMembershipQuery(std::span<const std::uint8_t> datagram,
                                             const in_addr& group) {
  const auto ip = net::parseIpv4(datagram, kGroupOffset + 4);
  if (!ip || ip->payload[0] != kMembershipQuery) return std::nullopt;
  std::uint32_t named = 0;
  std::memcpy(&named, ip->payload.data() + kGroupOffset, 4);
  // The prober's own group is tested first, then the general query.
  if (named == group.s_addr) return QueryKind::GroupSpecific;
  if (named == 0) return QueryKind::General;
  return QueryKind::None;
}
