#include "net/ip_datagram.h"

#include <algorithm>

#include "net/wire.h"

namespace net {

namespace {
constexpr std::size_t kTotalLengthOffset = 2;
constexpr std::size_t kFragmentOffset = 6;
constexpr std::uint16_t kFragmentOffsetMask = 0x1FFF;
constexpr std::size_t kTtlOffset = 8;
constexpr std::size_t kProtocolOffset = 9;
constexpr std::size_t kSourceOffset = 12;
constexpr std::size_t kDestinationOffset = 16;

Address addressAt(std::span<const std::uint8_t> datagram, std::size_t offset) {
  return *Address::fromBytes(datagram.subspan(offset, 4));
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
  return IpDatagram{Family::V4,
                    datagram[kProtocolOffset],
                    addressAt(datagram, kSourceOffset),
                    addressAt(datagram, kDestinationOffset),
                    datagram[kTtlOffset],
                    datagram.subspan(headerLength)};
}

}  // namespace

std::optional<IpDatagram> parseDatagram(std::span<const std::uint8_t> datagram) {
  const auto first = readByte(datagram, 0);
  if (first && (*first >> 4U) == 4U) return parseIpv4(datagram);
  return std::nullopt;
}

}  // namespace net
