#include "net/packet/checksum.h"

#include <array>
#include <cstddef>

namespace net {

namespace {

// The one's-complement sum of 16-bit words, unfolded; an odd last byte is
// padded with zero.
std::uint64_t sumOfWords(std::span<const std::uint8_t> data) {
  std::uint64_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < data.size(); i += 2) {
    sum += (static_cast<std::uint32_t>(data[i]) << 8U) | data[i + 1];
  }
  if (i < data.size()) sum += static_cast<std::uint32_t>(data[i]) << 8U;
  return sum;
}

std::uint16_t foldAndComplement(std::uint64_t sum) {
  while ((sum >> 16U) != 0) sum = (sum >> 16U) + (sum & 0xFFFFU);
  return static_cast<std::uint16_t>(~sum & 0xFFFFU);
}

}  // namespace

std::uint16_t internetChecksum(std::span<const std::uint8_t> data) {
  return foldAndComplement(sumOfWords(data));
}

std::uint16_t internetChecksum(std::span<const std::uint8_t> data, const PseudoHeader& header) {
  const auto length = static_cast<std::uint32_t>(data.size());
  // IPv4's pseudo-header carries a 16-bit length after a zero byte and the
  // protocol; IPv6's a 32-bit length, three zero bytes and the next header.
  // Summed as words, both come to the same: the length's halves and the protocol.
  std::uint64_t sum = sumOfWords(header.source.bytes()) + sumOfWords(header.destination.bytes());
  sum += (length >> 16U) + (length & 0xFFFFU) + header.protocol;
  return foldAndComplement(sum + sumOfWords(data));
}

}  // namespace net
