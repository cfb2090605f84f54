#include "probes/pim_messages.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <vector>

#include "net/checksum.h"
#include "tests/unit/datagram_builder.h"

namespace {

using testing_support::ipv4Datagram;

TEST(PimMessages, HelloCarriesHoldtimeDrPriorityZeroAndGenerationId) {
  const auto hello = pimHello(0xA1B2C3D4);
  const std::array<std::uint8_t, 26> expected{
      0x20, 0x00, hello[2], hello[3],                          // version 2 Hello, checksum
      0x00, 0x01, 0x00,     0x02,     0x00, 0x1E,              // Holdtime 30
      0x00, 0x13, 0x00,     0x04,     0x00, 0x00, 0x00, 0x00,  // DR Priority 0
      0x00, 0x14, 0x00,     0x04,     0xA1, 0xB2, 0xC3, 0xD4,  // Generation ID
  };
  EXPECT_EQ(hello, expected);
  EXPECT_EQ(net::internetChecksum(hello), 0);
  const auto other = pimHello(0);
  EXPECT_EQ(net::internetChecksum(other), 0);
  EXPECT_NE(other[2] << 8 | other[3], hello[2] << 8 | hello[3]);
}

std::vector<std::uint8_t> pim(std::uint8_t first, std::uint8_t protocol = 103,
                              std::uint8_t optionWords = 0) {
  return ipv4Datagram(protocol, {first, 0, 0x12, 0x34, 0, 1, 0, 2, 0, 105}, optionWords);
}

TEST(PimMessages, HellosAndCandidateRpAdvertisementsAreRecognised) {
  EXPECT_EQ(readPimMessage(pim(0x20)), PimMessage::Hello);
  EXPECT_EQ(readPimMessage(pim(0x28)), PimMessage::CandidateRpAdvertisement);
  EXPECT_EQ(readPimMessage(pim(0x20, 103, 1)), PimMessage::Hello) << "IP options";
}

TEST(PimMessages, OtherPimTypesAndVersionsCountForNothing) {
  for (const std::uint8_t first :
       std::vector<std::uint8_t>{0x23, 0x24, 0x25, 0x21, 0x10, 0x30, 0x00, 0x18}) {
    EXPECT_EQ(readPimMessage(pim(first)), PimMessage::Other) << std::hex << int{first};
  }
}

TEST(PimMessages, OnlyIpProtocol103IsPim) {
  // A TCP segment from port 8443 and a UDP datagram from 8192-8447 begin
  // with the bytes of a Hello or a C-RP-Advertisement.
  for (const std::uint8_t protocol : std::vector<std::uint8_t>{6, 17, 2, 1, 0}) {
    EXPECT_EQ(readPimMessage(pim(0x20, protocol)), PimMessage::Other) << int{protocol};
    EXPECT_EQ(readPimMessage(pim(0x28, protocol)), PimMessage::Other) << int{protocol};
  }
}

TEST(PimMessages, DatagramsEndingAtTheHeaderAreSkipped) {
  EXPECT_EQ(readPimMessage(ipv4Datagram(103, {})), PimMessage::Other);
  auto lying = pim(0x20);
  lying[0] = 0x4F;  // claims 60 header bytes of 30
  EXPECT_EQ(readPimMessage(lying), PimMessage::Other);
  lying[0] = 0x43;
  EXPECT_EQ(readPimMessage(lying), PimMessage::Other);
  EXPECT_EQ(readPimMessage({}), PimMessage::Other);
}

TEST(PimMessages, GenerationIdComesFromEntropyOrAFallbackWhenThatFails) {
  EXPECT_EQ(generationIdFrom([] { return 0x01020304U; }), 0x01020304U);
  // Where std::random_device throws, the Hello still gets an identifier.
  std::uint32_t fallback = 0;
  EXPECT_NO_THROW(fallback = generationIdFrom([]() -> std::uint32_t {
                    throw std::runtime_error("random_device: no entropy source");
                  }));
  EXPECT_NE(fallback, 0U);
}

}  // namespace
