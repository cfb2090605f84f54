#include "probes/pim_hello_options.h"

#include "net/ip_datagram.h"
#include "probes/pim_messages.h"

namespace {

constexpr std::size_t kPimHeaderLength = 4;
constexpr std::size_t kOptionHeaderLength = 4;

std::uint16_t be16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>((bytes[offset] << 8U) | bytes[offset + 1]);
}

std::uint32_t be32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(be16(bytes, offset)) << 16U | be16(bytes, offset + 2);
}

}  // namespace

std::optional<HelloDetails> readHelloDetails(std::span<const std::uint8_t> datagram) {
  const auto ip = net::parseIpv4(datagram, kPimHeaderLength);
  if (!ip || ip->protocol != kPimProtocol ||
      ip->payload[kPimVersionTypeOffset] != kPimVersion2Hello) {
    return std::nullopt;
  }
  HelloDetails details;
  details.sender = ip->source;

  const std::span<const std::uint8_t> options = ip->payload.subspan(kPimHeaderLength);
  std::size_t at = 0;
  while (options.size() - at >= kOptionHeaderLength) {
    const std::uint16_t type = be16(options, at);
    const std::uint16_t length = be16(options, at + kPimOptionLengthOffset);
    const std::size_t value = at + kOptionHeaderLength;
    if (options.size() - value < length) break;
    if (type == kPimHoldtimeOption && length == 2) {
      details.holdtimeSeconds = be16(options, value);
    } else if (type == kPimDrPriorityOption && length == 4) {
      details.drPriority = be32(options, value);
    } else if (type == kPimGenerationIdOption && length == 4) {
      details.generationId = be32(options, value);
    }
    at = value + length;
  }
  return details;
}
