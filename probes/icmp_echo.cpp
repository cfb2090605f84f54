#include "probes/icmp_echo.h"

#include "net/ip_datagram.h"
#include "net/wire.h"

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kChecksumOffset = 2;
constexpr std::size_t kIdentifierOffset = 4;
constexpr std::size_t kSequenceOffset = 6;

void putLittleEndian16(std::span<std::uint8_t> message, std::size_t offset, std::uint16_t value) {
  message[offset] = static_cast<std::uint8_t>(value & 0xFFU);
  message[offset + 1] = static_cast<std::uint8_t>(value >> 8U);
}

}  // namespace

std::uint16_t echoIdentifier(std::uint32_t processId) {
  return static_cast<std::uint16_t>(processId & 0xFFFFU);
}

std::array<std::uint8_t, 8> echoRequest(std::uint16_t identifier, std::uint16_t sequence) {
  std::array<std::uint8_t, 8> message{};
  message[kTypeOffset] = kEchoRequest;
  putLittleEndian16(message, kIdentifierOffset, identifier);
  putLittleEndian16(message, kSequenceOffset, sequence);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

bool isEchoReplyFor(std::span<const std::uint8_t> datagram, std::uint16_t identifier) {
  const auto ip = net::parseIpv4(datagram, kIdentifierOffset + 2);
  if (!ip || ip->payload[kTypeOffset] != kEchoReply) return false;
  const auto carried = static_cast<std::uint16_t>(ip->payload[kIdentifierOffset] |
                                                  (ip->payload[kIdentifierOffset + 1] << 8U));
  return carried == identifier;
}
