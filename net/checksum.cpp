#include "net/checksum.h"

#include <cstddef>

namespace net {

std::uint16_t internetChecksum(std::span<const std::uint8_t> data) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < data.size(); i += 2) {
    sum += (static_cast<std::uint32_t>(data[i]) << 8U) | data[i + 1];
  }
  if (i < data.size()) sum += static_cast<std::uint32_t>(data[i]) << 8U;
  // Two folds suffice for any message under 128 KiB.
  sum = (sum >> 16U) + (sum & 0xFFFFU);
  sum += sum >> 16U;
  return static_cast<std::uint16_t>(~sum & 0xFFFFU);
}

}  // namespace net
