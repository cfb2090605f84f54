#include "net/ip_datagram.h"

#include <algorithm>
#include <cstring>

namespace net {

namespace {
constexpr std::size_t kTotalLengthOffset = 2;
constexpr std::size_t kFragmentOffset = 6;
constexpr std::size_t kProtocolOffset = 9;
constexpr std::size_t kSourceOffset = 12;
constexpr std::size_t kDestinationOffset = 16;

in_addr addressAt(std::span<const std::uint8_t> datagram, std::size_t offset) {
  in_addr address{};
  std::memcpy(&address.s_addr, datagram.data() + offset, sizeof address.s_addr);
  return address;
}
}  // namespace

std::optional<Ipv4Datagram> parseIpv4(std::span<const std::uint8_t> received,
                                      std::size_t payloadBytesNeeded) {
  if (received.size() < kMinIpv4HeaderLength) return std::nullopt;
  const std::size_t headerLength = static_cast<std::size_t>(received[0] & 0x0FU) * 4U;
  // A capture hands over link-layer padding after short datagrams: only the
  // total length the header declares is the datagram. A longer declaration
  // than what arrived means a datagram cut to the receive buffer.
  const std::size_t totalLength = (static_cast<std::size_t>(received[kTotalLengthOffset]) << 8U) |
                                  received[kTotalLengthOffset + 1];
  const auto datagram = received.first(std::min(received.size(), totalLength));
  // A later fragment's data begins mid-message: its first bytes are no header.
  const bool laterFragment =
      ((received[kFragmentOffset] & 0x1FU) | received[kFragmentOffset + 1]) != 0U;
  if (headerLength < kMinIpv4HeaderLength || datagram.size() < headerLength || laterFragment ||
      datagram.size() - headerLength < payloadBytesNeeded) {
    return std::nullopt;
  }
  return Ipv4Datagram{datagram[kProtocolOffset], addressAt(datagram, kSourceOffset),
                      addressAt(datagram, kDestinationOffset), datagram.subspan(headerLength)};
}

sockaddr_in ipSourceOf(std::span<const std::uint8_t> datagram) {
  sockaddr_in source;
  std::memset(&source, 0, sizeof source);
  source.sin_family = AF_INET;
  if (datagram.size() >= kSourceOffset + 4) source.sin_addr = addressAt(datagram, kSourceOffset);
  return source;
}

}  // namespace net
