#include "net/packet/ip_datagram.h"

#include <algorithm>

#include "net/packet/wire.h"

namespace net {

namespace {

// IPv4 (RFC 791).
constexpr std::size_t kTotalLengthOffset = 2;
constexpr std::size_t kFragmentOffset = 6;
constexpr std::uint16_t kFragmentOffsetMask = 0x1FFF;
constexpr std::size_t kTtlOffset = 8;
constexpr std::size_t kProtocolOffset = 9;
constexpr std::size_t kSourceOffset = 12;
constexpr std::size_t kDestinationOffset = 16;
constexpr std::uint8_t kIpv4EndOfOptions = 0;
constexpr std::uint8_t kIpv4NoOperation = 1;
constexpr std::uint8_t kIpv4RouterAlert = 148;
constexpr std::uint8_t kIpv4RouterAlertLength = 4;

// IPv6 (RFC 8200).
constexpr std::size_t kPayloadLengthOffset = 4;
constexpr std::size_t kNextHeaderOffset = 6;
constexpr std::size_t kHopLimitOffset = 7;
constexpr std::size_t kV6SourceOffset = 8;
constexpr std::size_t kV6DestinationOffset = 24;
constexpr std::size_t kV6AddressLength = 16;
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kNoNextHeader = 59;
constexpr std::uint8_t kDestinationOptions = 60;
// Every extension header begins with its next header; all but the fragment
// header then give their length in 8-byte units, not counting the first 8.
constexpr std::size_t kExtensionLengthOffset = 1;
constexpr std::size_t kExtensionUnit = 8;
constexpr std::size_t kOptionsOffset = 2;
constexpr std::size_t kFragmentHeaderLength = 8;
constexpr std::size_t kFragmentFieldOffset = 2;
constexpr std::uint16_t kV6FragmentOffsetMask = 0xFFF8;
constexpr std::uint8_t kPad1 = 0;
constexpr std::uint8_t kV6RouterAlert = 5;
constexpr std::uint8_t kV6RouterAlertLength = 2;

Address addressAt(std::span<const std::uint8_t> datagram, std::size_t offset, std::size_t length) {
  return *Address::fromBytes(datagram.subspan(offset, length));
}

// IPv4 options: End and No-Operation are one byte; every other option gives
// its length, type and length bytes included. A malformed option ends the
// reading, not the datagram, as it always has.
std::optional<std::uint16_t> ipv4RouterAlert(std::span<const std::uint8_t> options) {
  std::size_t at = 0;
  while (at < options.size() && options[at] != kIpv4EndOfOptions) {
    if (options[at] == kIpv4NoOperation) {
      ++at;
      continue;
    }
    const auto length = readByte(options, at + 1);
    if (!length || *length < 2 || !holds(options, at, *length)) break;
    if (options[at] == kIpv4RouterAlert && *length == kIpv4RouterAlertLength) {
      return readBe16(options, at + 2);
    }
    at += *length;
  }
  return std::nullopt;
}

// Hop-by-hop options (RFC 8200 4.2): Pad1 is one byte; every other option
// gives the length of its data alone.
std::optional<std::uint16_t> ipv6RouterAlert(std::span<const std::uint8_t> options) {
  std::size_t at = 0;
  while (at < options.size()) {
    if (options[at] == kPad1) {
      ++at;
      continue;
    }
    const auto length = readByte(options, at + 1);
    if (!length || !holds(options, at + 2, *length)) break;
    if (options[at] == kV6RouterAlert && *length == kV6RouterAlertLength) {
      return readBe16(options, at + 2);
    }
    at += 2U + *length;
  }
  return std::nullopt;
}

std::optional<IpDatagram> parseIpv4(std::span<const std::uint8_t> received) {
  if (received.size() < kMinIpv4HeaderLength) return std::nullopt;
  const std::size_t headerLength = static_cast<std::size_t>(received[0] & 0x0FU) * 4U;
  // A capture hands over link-layer padding after short datagrams: only the
  // total length the header declares is the datagram. A longer declaration
  // than what arrived means a datagram cut to the receive buffer.
  const std::size_t totalLength = *readBe16(received, kTotalLengthOffset);
  const auto datagram = received.first(std::min(received.size(), totalLength));
  const bool laterFragment = (*readBe16(received, kFragmentOffset) & kFragmentOffsetMask) != 0U;
  if (headerLength < kMinIpv4HeaderLength || datagram.size() < headerLength || laterFragment) {
    return std::nullopt;
  }
  IpDatagram read;
  read.family = Family::V4;
  read.protocol = datagram[kProtocolOffset];
  read.source = addressAt(datagram, kSourceOffset, 4);
  read.destination = addressAt(datagram, kDestinationOffset, 4);
  read.hopLimit = datagram[kTtlOffset];
  read.payload = datagram.subspan(headerLength);
  read.routerAlert =
      ipv4RouterAlert(datagram.subspan(kMinIpv4HeaderLength, headerLength - kMinIpv4HeaderLength));
  return read;
}

bool isExtensionHeader(std::uint8_t nextHeader) {
  return nextHeader == kHopByHop || nextHeader == kRouting || nextHeader == kFragment ||
         nextHeader == kDestinationOptions || nextHeader == kNoNextHeader;
}

// The length of the extension header of type `type` at `at`; nothing when
// it does not lie whole within the datagram.
std::optional<std::size_t> extensionLength(std::span<const std::uint8_t> datagram, std::size_t at,
                                           std::uint8_t type) {
  std::size_t length = kFragmentHeaderLength;
  if (type != kFragment) {
    const auto units = readByte(datagram, at + kExtensionLengthOffset);
    if (!units) return std::nullopt;
    length = (*units + 1U) * kExtensionUnit;
  }
  if (!holds(datagram, at, length)) return std::nullopt;
  return length;
}

std::optional<IpDatagram> parseIpv6(std::span<const std::uint8_t> received) {
  if (received.size() < kIpv6HeaderLength) return std::nullopt;
  // As for IPv4: padding after the declared length is the link's, and a
  // declaration longer than what arrived means a datagram cut to the buffer.
  const std::size_t declared = kIpv6HeaderLength + *readBe16(received, kPayloadLengthOffset);
  const auto datagram = received.first(std::min(received.size(), declared));

  IpDatagram read;
  read.family = Family::V6;
  read.source = addressAt(datagram, kV6SourceOffset, kV6AddressLength);
  read.destination = addressAt(datagram, kV6DestinationOffset, kV6AddressLength);
  read.hopLimit = datagram[kHopLimitOffset];

  std::uint8_t next = datagram[kNextHeaderOffset];
  std::size_t at = kIpv6HeaderLength;
  for (std::size_t headers = 0; isExtensionHeader(next); ++headers) {
    if (next == kNoNextHeader || headers == kMaxIpv6ExtensionHeaders) return std::nullopt;
    if (next == kHopByHop && at != kIpv6HeaderLength) return std::nullopt;
    const auto length = extensionLength(datagram, at, next);
    if (!length) return std::nullopt;
    if (next == kFragment &&
        (*readBe16(datagram, at + kFragmentFieldOffset) & kV6FragmentOffsetMask) != 0U) {
      return std::nullopt;
    }
    if (next == kHopByHop) {
      read.routerAlert =
          ipv6RouterAlert(datagram.subspan(at + kOptionsOffset, *length - kOptionsOffset));
    }
    next = datagram[at];
    at += *length;
  }
  read.protocol = next;
  read.payload = datagram.subspan(at);
  return read;
}

}  // namespace

std::optional<Address> sourceOf(std::span<const std::uint8_t> datagram) {
  const auto first = readByte(datagram, 0);
  if (!first) return std::nullopt;
  if ((*first >> 4U) == 4U && datagram.size() >= kMinIpv4HeaderLength) {
    return addressAt(datagram, kSourceOffset, 4);
  }
  if ((*first >> 4U) == 6U && datagram.size() >= kIpv6HeaderLength) {
    return addressAt(datagram, kV6SourceOffset, kV6AddressLength);
  }
  return std::nullopt;
}

std::optional<IpDatagram> parseDatagram(std::span<const std::uint8_t> datagram) {
  const auto first = readByte(datagram, 0);
  if (!first) return std::nullopt;
  if ((*first >> 4U) == 4U) return parseIpv4(datagram);
  if ((*first >> 4U) == 6U) return parseIpv6(datagram);
  return std::nullopt;
}

}  // namespace net
