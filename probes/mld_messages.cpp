#include "probes/mld_messages.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "net/packet/ip_datagram.h"
#include "net/packet/wire.h"

namespace {

constexpr std::uint8_t kQuery = 130;
constexpr std::uint8_t kV1Report = 131;
constexpr std::uint8_t kV1Done = 132;
constexpr std::uint8_t kV2Report = 143;
constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kAddressLength = 16;

// MLDv1 messages and the query's first 24 bytes.
constexpr std::size_t kMaxResponseOffset = 4;
constexpr std::size_t kGroupOffset = 8;
constexpr std::size_t kV1Length = 24;

// The MLDv2 query's fields after the group.
constexpr std::size_t kV2MinimumQueryLength = 28;
constexpr std::size_t kRobustnessOffset = 24;
constexpr std::uint8_t kRobustnessMask = 0x07;
constexpr std::size_t kQueryIntervalCodeOffset = 25;
constexpr std::size_t kQuerySourceCountOffset = 26;
constexpr std::size_t kQuerySourcesOffset = 28;

// The MLDv2 report's offsets, with its one record from kRecordOffset.
constexpr std::size_t kRecordCountOffset = 6;
constexpr std::size_t kRecordOffset = 8;
constexpr std::size_t kRecordTypeOffset = kRecordOffset;
constexpr std::size_t kRecordSourceCountOffset = kRecordOffset + 2;
constexpr std::size_t kRecordGroupOffset = kRecordOffset + 4;
constexpr std::size_t kRecordSourceOffset = kRecordGroupOffset + kAddressLength;

void putAddress(std::span<std::uint8_t> message, std::size_t offset, const net::Address& address,
                const char* what) {
  if (address.isV4()) throw std::invalid_argument(std::string("MLD needs an IPv6 ") + what);
  const auto bytes = address.bytes();
  std::copy(bytes.begin(), bytes.end(), message.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::array<std::uint8_t, 24> mldV1Message(std::uint8_t type, const net::Address& group) {
  std::array<std::uint8_t, 24> message{};
  message[kTypeOffset] = type;
  putAddress(message, kGroupOffset, group, "group");
  return message;
}

net::Address addressAt(std::span<const std::uint8_t> message, std::size_t offset) {
  return *net::Address::fromBytes(message.subspan(offset, kAddressLength));
}

}  // namespace

std::array<std::uint8_t, 24> mldV1Report(const net::Address& group) {
  return mldV1Message(kV1Report, group);
}

std::array<std::uint8_t, 24> mldV1Done(const net::Address& group) {
  return mldV1Message(kV1Done, group);
}

std::array<std::uint8_t, 44> mldV2Report(const net::Address& group, const net::Address& source,
                                         std::uint8_t recordType) {
  std::array<std::uint8_t, 44> message{};
  message[kTypeOffset] = kV2Report;
  net::putBe16(message, kRecordCountOffset, 1);
  message[kRecordTypeOffset] = recordType;
  net::putBe16(message, kRecordSourceCountOffset, 1);
  putAddress(message, kRecordGroupOffset, group, "group");
  putAddress(message, kRecordSourceOffset, source, "source");
  return message;
}

std::uint32_t mldV2MaxResponseMs(std::uint16_t code) {
  if (code < 0x8000U) return code;
  const std::uint32_t mantissa = code & 0x0FFFU;
  const std::uint32_t exponent = (code >> 12U) & 0x07U;
  return (mantissa | 0x1000U) << (exponent + 3U);
}

net::CaptureRequest mldQueryCapture() {
  return net::CaptureRequest{net::Family::V6, net::kIcmpv6Protocol, {kQuery}, {}, {}, {}};
}

std::optional<MembershipQuery> readMldQuery(std::span<const std::uint8_t> datagram) {
  const auto ip = net::parseDatagram(datagram);
  if (!ip || ip->family != net::Family::V6 || ip->protocol != net::kIcmpv6Protocol) {
    return std::nullopt;
  }
  const std::span<const std::uint8_t> mld = ip->payload;
  if (net::readByte(mld, kTypeOffset) != kQuery) return std::nullopt;
  if (mld.size() != kV1Length && mld.size() < kV2MinimumQueryLength) return std::nullopt;

  MembershipQuery query;
  query.sender = ip->source;
  query.destination = ip->destination;
  query.group = addressAt(mld, kGroupOffset);
  const std::uint16_t code = *net::readBe16(mld, kMaxResponseOffset);
  if (mld.size() == kV1Length) {
    query.version = 1;
    query.maxResponseMs = code;
    return query;
  }
  query.version = 2;
  query.maxResponseMs = mldV2MaxResponseMs(code);
  query.robustness = static_cast<std::uint8_t>(mld[kRobustnessOffset] & kRobustnessMask);
  // QQIC is coded as IGMPv3's (RFC 3810 5.1.9).
  query.queryIntervalSeconds = igmpV3CodeValue(mld[kQueryIntervalCodeOffset]);
  query.sourceCount = *net::readBe16(mld, kQuerySourceCountOffset);
  // Only sources that arrived whole are read.
  for (std::size_t at = kQuerySourcesOffset;
       net::holds(mld, at, kAddressLength) && query.sources.size() < kMaxQuerySourcesKept &&
       query.sources.size() < query.sourceCount;
       at += kAddressLength) {
    query.sources.push_back(addressAt(mld, at));
  }
  return query;
}
