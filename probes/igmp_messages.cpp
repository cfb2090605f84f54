#include "probes/igmp_messages.h"

#include <algorithm>

#include "net/packet/ip_datagram.h"
#include "net/packet/wire.h"

namespace {

constexpr std::uint8_t kMembershipQuery = 0x11;
constexpr std::uint8_t kV2MembershipReport = 0x16;
constexpr std::uint8_t kV2LeaveGroup = 0x17;
constexpr std::uint8_t kV3MembershipReport = 0x22;
constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kMaxResponseOffset = 1;
constexpr std::size_t kChecksumOffset = 2;
constexpr std::size_t kGroupOffset = 4;
// The IGMPv3 report's offsets, with its one group record from kRecordOffset.
constexpr std::size_t kRecordCountOffset = 6;
constexpr std::size_t kRecordOffset = 8;
constexpr std::size_t kRecordTypeOffset = kRecordOffset;
constexpr std::size_t kRecordSourceCountOffset = kRecordOffset + 2;
constexpr std::size_t kRecordGroupOffset = kRecordOffset + 4;
constexpr std::size_t kRecordSourceOffset = kRecordOffset + 8;

constexpr std::size_t kV2QueryLength = 8;
constexpr std::size_t kV3MinimumQueryLength = 12;
// The IGMPv3 query's fields after the group.
constexpr std::size_t kRobustnessOffset = 8;
constexpr std::uint8_t kRobustnessMask = 0x07;
constexpr std::size_t kQueryIntervalCodeOffset = 9;
constexpr std::size_t kQuerySourceCountOffset = 10;
constexpr std::size_t kQuerySourcesOffset = 12;

void putAddress(std::span<std::uint8_t> message, std::size_t offset, const net::Address& address) {
  const auto bytes = address.bytes();
  std::copy(bytes.begin(), bytes.end(), message.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::array<std::uint8_t, 8> igmpV2Message(std::uint8_t type, const net::Address& group) {
  std::array<std::uint8_t, 8> message{};
  message[kTypeOffset] = type;
  putAddress(message, kGroupOffset, group);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

}  // namespace

std::array<std::uint8_t, 8> igmpV2Report(const net::Address& group) {
  return igmpV2Message(kV2MembershipReport, group);
}

std::array<std::uint8_t, 8> igmpV2Leave(const net::Address& group) {
  return igmpV2Message(kV2LeaveGroup, group);
}

std::array<std::uint8_t, 20> igmpV3Report(const net::Address& group, const net::Address& source,
                                          std::uint8_t recordType) {
  std::array<std::uint8_t, 20> message{};
  message[kTypeOffset] = kV3MembershipReport;
  net::putBe16(message, kRecordCountOffset, 1);
  message[kRecordTypeOffset] = recordType;
  net::putBe16(message, kRecordSourceCountOffset, 1);
  putAddress(message, kRecordGroupOffset, group);
  putAddress(message, kRecordSourceOffset, source);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

std::uint32_t igmpV3CodeValue(std::uint8_t code) {
  if (code < 128) return code;
  const std::uint32_t mantissa = code & 0x0FU;
  const std::uint32_t exponent = (code >> 4U) & 0x07U;
  return (mantissa | 0x10U) << (exponent + 3U);
}

std::uint32_t igmpV3MaxResponseMs(std::uint8_t code) { return igmpV3CodeValue(code) * 100U; }

net::CaptureRequest membershipQueryCapture() {
  return net::CaptureRequest{net::Family::V4, kIgmpProtocol, {kMembershipQuery}, {}, {}, {}};
}

std::optional<MembershipQuery> readMembershipQuery(std::span<const std::uint8_t> datagram) {
  const auto ip = net::parseDatagram(datagram);
  if (!ip || ip->family != net::Family::V4 || ip->protocol != kIgmpProtocol) return std::nullopt;
  const std::span<const std::uint8_t> igmp = ip->payload;
  if (net::readByte(igmp, kTypeOffset) != kMembershipQuery) return std::nullopt;
  if (igmp.size() != kV2QueryLength && igmp.size() < kV3MinimumQueryLength) return std::nullopt;

  MembershipQuery query;
  query.sender = ip->source;
  query.destination = ip->destination;
  query.group = *net::Address::fromBytes(igmp.subspan(kGroupOffset, 4));
  const std::uint8_t code = igmp[kMaxResponseOffset];
  if (igmp.size() >= kV3MinimumQueryLength) {
    query.version = 3;
    query.maxResponseMs = igmpV3MaxResponseMs(code);
    query.robustness = static_cast<std::uint8_t>(igmp[kRobustnessOffset] & kRobustnessMask);
    query.queryIntervalSeconds = igmpV3CodeValue(igmp[kQueryIntervalCodeOffset]);
    query.sourceCount = *net::readBe16(igmp, kQuerySourceCountOffset);
    // Only sources that arrived whole are read.
    for (std::size_t at = kQuerySourcesOffset;
         net::holds(igmp, at, 4) && query.sources.size() < kMaxQuerySourcesKept &&
         query.sources.size() < query.sourceCount;
         at += 4) {
      query.sources.push_back(*net::Address::fromBytes(igmp.subspan(at, 4)));
    }
  } else {
    // An IGMPv1 query leaves the field zero; IGMPv2 counts tenths of a second.
    query.version = code == 0 ? 1 : 2;
    query.maxResponseMs = code * 100U;
  }
  return query;
}

bool asksAbout(const MembershipQuery& query, const net::Address& group) {
  return query.group.isUnspecified() || query.group == group;
}
