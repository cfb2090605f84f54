#include "net/checksum.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "net/wire.h"

namespace {

std::array<std::uint8_t, 2> stored(std::uint16_t checksum) {
  std::array<std::uint8_t, 2> bytes{};
  net::putBe16(bytes, 0, checksum);
  return bytes;
}

TEST(InternetChecksum, KnownVectors) {
  EXPECT_EQ(net::internetChecksum({}), 0xFFFF);
  const std::vector<std::uint8_t> oneByte{0x01};
  EXPECT_EQ(stored(net::internetChecksum(oneByte)), (std::array<std::uint8_t, 2>{0xFE, 0xFF}));
  // Bytes of 0x80 and above must add as unsigned values.
  const std::vector<std::uint8_t> high{0x00, 0x80, 0x00, 0x80};
  EXPECT_EQ(stored(net::internetChecksum(high)), (std::array<std::uint8_t, 2>{0xFE, 0xFF}));
  const std::vector<std::uint8_t> report{0x16, 0x00, 0x00, 0x00, 0xE9, 0x04, 0xC8, 0x13};
  EXPECT_EQ(stored(net::internetChecksum(report)), (std::array<std::uint8_t, 2>{0x38, 0xE7}));
}

TEST(InternetChecksum, MessageCarryingItsChecksumSumsToZero) {
  std::vector<std::uint8_t> message{0x45, 0x00, 0x00, 0x00, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0x12, 0x34, 0x56};
  net::putChecksum(message, 2);
  EXPECT_EQ(net::internetChecksum(message), 0);
}

TEST(InternetChecksum, CarriesFoldBackIn) {
  // 0xFFFF + 0xFFFF + 0x0002 = 0x20000: two folds give 0x0002, complement 0xFFFD.
  const std::vector<std::uint8_t> carries{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02};
  EXPECT_EQ(net::internetChecksum(carries), 0xFFFD);
}

}  // namespace
