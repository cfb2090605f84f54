#include "net/ip_datagram.h"

#include <cstring>

namespace net {

namespace {
constexpr std::size_t kProtocolOffset = 9;
constexpr std::size_t kSourceOffset = 12;
}  // namespace

std::optional<Ipv4Datagram> parseIpv4(std::span<const std::uint8_t> datagram,
                                      std::size_t payloadBytesNeeded) {
  if (datagram.empty()) return std::nullopt;
  const std::size_t headerLength = static_cast<std::size_t>(datagram[0] & 0x0FU) * 4U;
  if (headerLength < kMinIpv4HeaderLength || datagram.size() < headerLength ||
      datagram.size() - headerLength < payloadBytesNeeded) {
    return std::nullopt;
  }
  return Ipv4Datagram{datagram[kProtocolOffset], datagram.subspan(headerLength)};
}

sockaddr_in ipSourceOf(std::span<const std::uint8_t> datagram) {
  sockaddr_in source;
  std::memset(&source, 0, sizeof source);
  source.sin_family = AF_INET;
  if (datagram.size() >= kSourceOffset + 4) {
    std::memcpy(&source.sin_addr, datagram.data() + kSourceOffset, 4);
  }
  return source;
}

}  // namespace net
