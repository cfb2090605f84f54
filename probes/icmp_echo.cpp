#include "probes/icmp_echo.h"

#include <cstdio>

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

std::uint16_t swapBytes(std::uint16_t value) {
  return static_cast<std::uint16_t>((value << 8U) | (value >> 8U));
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

std::optional<net::Address> echoReplySender(std::span<const std::uint8_t> datagram,
                                            std::uint16_t identifier) {
  const auto ip = net::parseDatagram(datagram);
  if (!ip || net::readByte(ip->payload, kTypeOffset) != kEchoReply) return std::nullopt;
  // The identifier travels low byte first: read big-endian, it comes swapped.
  const auto carried = net::readBe16(ip->payload, kIdentifierOffset);
  if (!carried || swapBytes(*carried) != identifier) return std::nullopt;
  return ip->source;
}

std::string echoReplyFilter(std::uint16_t identifier) {
  // icmp[4:2] reads the identifier's two bytes big-endian: the low byte first.
  std::array<char, 80> text{};
  std::snprintf(text.data(), text.size(),
                "icmp[icmptype] == icmp-echoreply and icmp[4:2] == 0x%04x",
                static_cast<unsigned int>(swapBytes(identifier)));
  return text.data();
}
