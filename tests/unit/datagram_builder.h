// Captured-datagram fixtures: an IPv4 header (with optional option bytes)
// or an IPv6 header followed by a payload, as a raw socket or capture hands
// them over.
#pragma once

#include <cstdint>
#include <vector>

namespace testing_support {

inline std::vector<std::uint8_t> ipv4Datagram(std::uint8_t protocol,
                                              const std::vector<std::uint8_t>& payload,
                                              std::uint8_t optionWords = 0,
                                              std::vector<std::uint8_t> source = {10, 0, 1, 1}) {
  const std::size_t headerLength = 20U + 4U * optionWords;
  std::vector<std::uint8_t> datagram(headerLength, 0);
  datagram[0] = static_cast<std::uint8_t>(0x40U | (5U + optionWords));
  const std::size_t total = headerLength + payload.size();
  datagram[2] = static_cast<std::uint8_t>(total >> 8U);
  datagram[3] = static_cast<std::uint8_t>(total & 0xFFU);
  datagram[8] = 1;
  datagram[9] = protocol;
  for (std::size_t i = 0; i < 4; ++i) datagram[12 + i] = source[i];
  datagram[16] = 224;
  datagram[19] = 1;
  for (std::size_t i = 20; i < headerLength; ++i) datagram[i] = 0x94;  // Router Alert-ish filler
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

// An IPv6 header from fe80::1 to ff02::1 with hop limit 1, then `rest`
// (extension headers and the message) as its payload; `nextHeader` is the
// header's own next header.
inline std::vector<std::uint8_t> ipv6Datagram(std::uint8_t nextHeader,
                                              const std::vector<std::uint8_t>& rest) {
  std::vector<std::uint8_t> datagram(40, 0);
  datagram[0] = 0x60;
  datagram[4] = static_cast<std::uint8_t>(rest.size() >> 8U);
  datagram[5] = static_cast<std::uint8_t>(rest.size() & 0xFFU);
  datagram[6] = nextHeader;
  datagram[7] = 1;
  datagram[8] = 0xFE;
  datagram[9] = 0x80;
  datagram[23] = 1;
  datagram[24] = 0xFF;
  datagram[25] = 0x02;
  datagram[39] = 1;
  datagram.insert(datagram.end(), rest.begin(), rest.end());
  return datagram;
}

}  // namespace testing_support
