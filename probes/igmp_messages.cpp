#include "probes/igmp_messages.h"

#include <cstring>

#include "net/ip_datagram.h"
#include "net/wire.h"

namespace {

constexpr std::uint8_t kV2MembershipReport = 0x16;
constexpr std::uint8_t kV2LeaveGroup = 0x17;
constexpr std::uint8_t kV3MembershipReport = 0x22;
constexpr std::size_t kChecksumOffset = 2;
// The IGMPv3 report's offsets, with its one group record from kRecordOffset.
constexpr std::size_t kRecordCountOffset = 6;
constexpr std::size_t kRecordOffset = 8;
constexpr std::size_t kRecordTypeOffset = kRecordOffset;
constexpr std::size_t kSourceCountOffset = kRecordOffset + 2;
constexpr std::size_t kRecordGroupOffset = kRecordOffset + 4;
constexpr std::size_t kRecordSourceOffset = kRecordOffset + 8;

// Addresses arrive in network byte order and are copied as they stand.
void putAddress(std::span<std::uint8_t> message, std::size_t offset, const in_addr& address) {
  std::memcpy(message.data() + offset, &address.s_addr, 4);
}

std::array<std::uint8_t, 8> igmpV2Message(std::uint8_t type, const in_addr& group) {
  std::array<std::uint8_t, 8> message{};
  message[kIgmpTypeOffset] = type;
  putAddress(message, kIgmpGroupOffset, group);
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
  message[kIgmpTypeOffset] = kV3MembershipReport;
  net::putBe16(message, kRecordCountOffset, 1);
  message[kRecordTypeOffset] = recordType;
  net::putBe16(message, kSourceCountOffset, 1);
  putAddress(message, kRecordGroupOffset, group);
  putAddress(message, kRecordSourceOffset, source);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

std::optional<MembershipQuery> readMembershipQuery(std::span<const std::uint8_t> datagram,
                                                   const in_addr& group) {
  const auto ip = net::parseIpv4(datagram, kIgmpGroupOffset + 4);
  if (!ip || ip->payload[kIgmpTypeOffset] != kIgmpMembershipQuery) return std::nullopt;
  std::uint32_t named = 0;
  std::memcpy(&named, ip->payload.data() + kIgmpGroupOffset, 4);
  return MembershipQuery{named == group.s_addr || named == 0};
}
