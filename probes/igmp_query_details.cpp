#include "probes/igmp_query_details.h"

#include <cstring>

#include "net/ip_datagram.h"
#include "probes/igmp_messages.h"

namespace {

constexpr std::size_t kMaxResponseOffset = 1;
constexpr std::size_t kV2QueryLength = 8;
constexpr std::size_t kV3MinimumQueryLength = 12;

}  // namespace

std::uint32_t igmpV3MaxResponseMs(std::uint8_t code) {
  if (code < 128) return code * 100U;
  const std::uint32_t mantissa = code & 0x0FU;
  const std::uint32_t exponent = (code >> 4U) & 0x07U;
  return ((mantissa | 0x10U) << (exponent + 3U)) * 100U;
}

std::optional<QueryDetails> readQueryDetails(std::span<const std::uint8_t> datagram) {
  const auto ip = net::parseIpv4(datagram, kV2QueryLength);
  if (!ip || ip->protocol != IPPROTO_IGMP || ip->payload[kIgmpTypeOffset] != kIgmpMembershipQuery) {
    return std::nullopt;
  }
  const std::size_t length = ip->payload.size();
  if (length != kV2QueryLength && length < kV3MinimumQueryLength) return std::nullopt;

  QueryDetails details;
  details.sender = ip->source;
  details.destination = ip->destination;
  std::memcpy(&details.group.s_addr, ip->payload.data() + kIgmpGroupOffset,
              sizeof details.group.s_addr);
  const std::uint8_t code = ip->payload[kMaxResponseOffset];
  if (length >= kV3MinimumQueryLength) {
    details.version = 3;
    details.maxResponseMs = igmpV3MaxResponseMs(code);
  } else {
    // An IGMPv1 query leaves the field zero; IGMPv2 counts tenths of a second.
    details.version = code == 0 ? 1 : 2;
    details.maxResponseMs = code * 100U;
  }
  return details;
}
