#include "probes/icmp_echo.h"

#include <cstdio>

#include "net/packet/ip_datagram.h"
#include "net/packet/wire.h"

namespace {

constexpr int kIcmpProtocol = 1;
constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kEchoRequestV6 = 128;
constexpr std::uint8_t kEchoReplyV6 = 129;
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

std::array<std::uint8_t, 8> echoMessage(std::uint8_t type, std::uint16_t identifier,
                                        std::uint16_t sequence) {
  std::array<std::uint8_t, 8> message{};
  message[kTypeOffset] = type;
  putLittleEndian16(message, kIdentifierOffset, identifier);
  putLittleEndian16(message, kSequenceOffset, sequence);
  return message;
}

}  // namespace

std::uint16_t echoIdentifier(std::uint32_t processId) {
  return static_cast<std::uint16_t>(processId & 0xFFFFU);
}

std::array<std::uint8_t, 8> echoRequest(std::uint16_t identifier, std::uint16_t sequence) {
  auto message = echoMessage(kEchoRequest, identifier, sequence);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

std::array<std::uint8_t, 8> echoRequestV6(std::uint16_t identifier, std::uint16_t sequence) {
  return echoMessage(kEchoRequestV6, identifier, sequence);
}

std::optional<net::Address> echoReplySender(std::span<const std::uint8_t> datagram,
                                            std::uint16_t identifier) {
  const auto ip = net::parseDatagram(datagram);
  if (!ip) return std::nullopt;
  // A raw ICMP socket hands over ICMP alone; a capture of IPv6 may end its
  // chain at any protocol, so only ICMPv6 counts there.
  const bool v6 = ip->family == net::Family::V6;
  if (v6 && ip->protocol != net::kIcmpv6Protocol) return std::nullopt;
  if (net::readByte(ip->payload, kTypeOffset) != (v6 ? kEchoReplyV6 : kEchoReply)) {
    return std::nullopt;
  }
  // The identifier travels low byte first: read big-endian, it comes swapped.
  const auto carried = net::readBe16(ip->payload, kIdentifierOffset);
  if (!carried || swapBytes(*carried) != identifier) return std::nullopt;
  return ip->source;
}

net::CaptureRequest echoReplyCapture(net::Family family, std::uint16_t identifier) {
  const bool v4 = family == net::Family::V4;
  net::CaptureRequest replies;
  replies.family = family;
  replies.protocol = v4 ? kIcmpProtocol : int{net::kIcmpv6Protocol};
  replies.messageTypes = {v4 ? kEchoReply : kEchoReplyV6};
  // Read big-endian, the identifier comes swapped: it travels low byte first.
  replies.echoIdentifier = swapBytes(identifier);
  return replies;
}
