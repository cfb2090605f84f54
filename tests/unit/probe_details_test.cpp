#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "probes/igmp_messages.h"
#include "probes/pim_messages.h"
#include "tests/unit/datagram_builder.h"

namespace {

using testing_support::ipv4Datagram;

constexpr std::uint8_t kIgmp = 2;
constexpr std::uint8_t kPim = 103;

std::optional<HelloOptions> readHelloDetails(const std::vector<std::uint8_t>& datagram) {
  const auto message = readPimMessage(datagram);
  if (!message || message->type != PimMessage::Type::Hello) return std::nullopt;
  return message->hello;
}

TEST(QueryDetails, VersionFollowsLengthAndMaxResponseCode) {
  // General IGMPv1 query: 8 bytes, Max Resp 0.
  auto v1 = readMembershipQuery(ipv4Datagram(kIgmp, {0x11, 0, 0xEE, 0xFF, 0, 0, 0, 0}));
  ASSERT_TRUE(v1);
  EXPECT_EQ(v1->version, 1);
  EXPECT_EQ(v1->maxResponseMs, 0U);
  EXPECT_EQ(v1->sender, net::Address::v4(0x0A000101U));
  EXPECT_EQ(v1->destination, net::Address::v4(0xE0000001U));
  EXPECT_TRUE(v1->group.isUnspecified());

  // Group-specific IGMPv2 query for 233.4.200.19, 1 s, behind Router Alert.
  auto v2 = readMembershipQuery(ipv4Datagram(kIgmp, {0x11, 10, 0, 0, 233, 4, 200, 19}, 1));
  ASSERT_TRUE(v2);
  EXPECT_EQ(v2->version, 2);
  EXPECT_EQ(v2->maxResponseMs, 1000U);
  EXPECT_EQ(v2->group, net::Address::v4(0xE904C813U));

  // IGMPv3 group-and-source query: 16 bytes with one source.
  auto v3 = readMembershipQuery(ipv4Datagram(
      kIgmp, {0x11, 100, 0, 0, 232, 64, 133, 120, 0x02, 125, 0, 1, 198, 51, 100, 20}, 1));
  ASSERT_TRUE(v3);
  EXPECT_EQ(v3->version, 3);
  EXPECT_EQ(v3->maxResponseMs, 10000U);
  EXPECT_EQ(v3->group, net::Address::v4(0xE8408578U));
}

TEST(QueryDetails, Igmpv3QueryTellsTheQueriersTimersAndSources) {
  // S flag set, QRV 3, QQIC 0x89 = (9 | 0x10) << 3 = 200 s, two sources.
  auto query =
      readMembershipQuery(ipv4Datagram(kIgmp, {0x11, 10, 0,   0,  232, 64, 133, 120, 0x0B, 0x89,
                                               0,    2,  198, 51, 100, 20, 198, 51,  100,  21},
                                       1));
  ASSERT_TRUE(query);
  EXPECT_EQ(query->robustness, 3) << "the S flag is no part of QRV";
  EXPECT_EQ(query->queryIntervalSeconds, 200U);
  EXPECT_EQ(query->sourceCount, 2);
  ASSERT_EQ(query->sources.size(), 2U);
  EXPECT_EQ(query->sources[1].toString(), "198.51.100.21");

  // A source list that claims more than arrived: only the whole ones are read.
  auto cut = readMembershipQuery(ipv4Datagram(
      kIgmp, {0x11, 10, 0, 0, 232, 64, 133, 120, 0x02, 125, 0, 5, 198, 51, 100, 20, 198, 51}));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->sourceCount, 5);
  EXPECT_EQ(cut->sources.size(), 1U);

  // Older queries tell no timers.
  auto v2 = readMembershipQuery(ipv4Datagram(kIgmp, {0x11, 10, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(v2);
  EXPECT_FALSE(v2->robustness.has_value());
  EXPECT_FALSE(v2->queryIntervalSeconds.has_value());
}

TEST(QueryDetails, ManySourcesAreKeptToABound) {
  std::vector<std::uint8_t> query{0x11, 10, 0, 0, 232, 64, 133, 120, 0x02, 125, 0, 40};
  for (std::uint8_t i = 0; i < 40; ++i) query.insert(query.end(), {198, 51, 100, i});
  const auto read = readMembershipQuery(ipv4Datagram(kIgmp, query));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->sourceCount, 40);
  EXPECT_EQ(read->sources.size(), kMaxQuerySourcesKept);
}

TEST(QueryDetails, Igmpv3FloatingPointResponseCode) {
  EXPECT_EQ(igmpV3MaxResponseMs(127), 12700U);
  // 0x80: exponent 0, mantissa 0 -> 16 << 3 = 128 tenths.
  EXPECT_EQ(igmpV3MaxResponseMs(0x80), 12800U);
  // 0xFF: exponent 7, mantissa 15 -> 31 << 10 = 31744 tenths.
  EXPECT_EQ(igmpV3MaxResponseMs(0xFF), 3174400U);
  auto query = readMembershipQuery(ipv4Datagram(kIgmp, {0x11, 0x8A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(query);
  EXPECT_EQ(query->maxResponseMs, (26U << 3U) * 100U);
}

TEST(QueryDetails, OnlyWholeQueriesOfAKnownFormAreRead) {
  // Reports, leaves, 9 to 11 bytes, runts and other protocols are no queries.
  EXPECT_FALSE(readMembershipQuery(ipv4Datagram(kIgmp, {0x16, 0, 0, 0, 233, 4, 200, 19})));
  EXPECT_FALSE(readMembershipQuery(ipv4Datagram(kIgmp, {0x17, 0, 0, 0, 233, 4, 200, 19})));
  EXPECT_FALSE(readMembershipQuery(ipv4Datagram(kIgmp, {0x11, 10, 0, 0, 0, 0, 0, 0, 0})));
  EXPECT_FALSE(readMembershipQuery(ipv4Datagram(kIgmp, {0x11, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0})));
  EXPECT_FALSE(readMembershipQuery(ipv4Datagram(kIgmp, {0x11, 10, 0, 0, 0, 0, 0})));
  EXPECT_FALSE(readMembershipQuery(ipv4Datagram(17, {0x11, 10, 0, 0, 0, 0, 0, 0})));
  auto later = ipv4Datagram(kIgmp, {0x11, 10, 0, 0, 0, 0, 0, 0});
  later[7] = 1;  // fragment offset 8 bytes
  EXPECT_FALSE(readMembershipQuery(later));
  // A capture's link padding after the header's total length is no part of it.
  auto padded = ipv4Datagram(kIgmp, {0x11, 10, 0, 0, 0, 0, 0, 0});
  padded.insert(padded.end(), {0, 0, 0, 0, 0, 0});
  auto read = readMembershipQuery(padded);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->version, 2);
}

std::vector<std::uint8_t> hello(std::vector<std::uint8_t> options) {
  std::vector<std::uint8_t> payload{0x20, 0, 0, 0};
  payload.insert(payload.end(), options.begin(), options.end());
  return ipv4Datagram(kPim, payload, 0, {10, 0, 1, 1});
}

TEST(HelloDetails, ReadsHoldtimeDrPriorityAndGenerationId) {
  const auto message = readPimMessage(hello({0, 1,  0, 2, 0,    105,            // Holdtime 105
                                             0, 24, 0, 4, 1,    2,    3,    4,  // other option
                                             0, 19, 0, 4, 0,    0,    0,    1,  // DR Priority 1
                                             0, 20, 0, 4, 0xDE, 0xAD, 0xBE, 0xEF}));
  ASSERT_TRUE(message);
  EXPECT_EQ(message->type, PimMessage::Type::Hello);
  EXPECT_EQ(message->sender, net::Address::v4(0x0A000101U));
  EXPECT_EQ(message->hello.holdtimeSeconds, 105);
  EXPECT_EQ(message->hello.drPriority, 1U);
  EXPECT_EQ(message->hello.generationId, 0xDEADBEEFU);
}

TEST(HelloDetails, OptionsAreReadOnlyWhileWhole) {
  auto bare = readHelloDetails(hello({}));
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->holdtimeSeconds || bare->drPriority || bare->generationId);

  // The DR Priority option claims 4 bytes but only 2 arrived.
  auto cut = readHelloDetails(hello({0, 1, 0, 2, 0, 30, 0, 19, 0, 4, 0, 0}));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->holdtimeSeconds, 30);
  EXPECT_FALSE(cut->drPriority);

  // A wrong length is passed over and the next option still read.
  auto odd = readHelloDetails(hello({0, 1, 0, 4, 0, 0, 0, 30, 0, 19, 0, 4, 0, 0, 0, 7}));
  ASSERT_TRUE(odd);
  EXPECT_FALSE(odd->holdtimeSeconds);
  EXPECT_EQ(odd->drPriority, 7U);

  // A huge length never reads past the datagram.
  auto huge = readHelloDetails(hello({0, 20, 0xFF, 0xFF, 1, 2, 3, 4}));
  ASSERT_TRUE(huge);
  EXPECT_FALSE(huge->generationId);

  // Link padding after the datagram's declared length holds no options.
  auto padded = hello({0, 1, 0, 2, 0, 30});
  padded.insert(padded.end(), {0, 19, 0, 4, 0, 0, 0, 9});
  auto unpadded = readHelloDetails(padded);
  ASSERT_TRUE(unpadded);
  EXPECT_EQ(unpadded->holdtimeSeconds, 30);
  EXPECT_FALSE(unpadded->drPriority);
}

TEST(HelloDetails, OnlyPimv2HellosAreRead) {
  // A Join/Prune's bytes after the header are no Hello options.
  auto other = hello({0, 1, 0, 2, 0, 30});
  other[20] = 0x23;
  const auto joinPrune = readPimMessage(other);
  ASSERT_TRUE(joinPrune);
  EXPECT_EQ(joinPrune->type, PimMessage::Type::Other);
  EXPECT_FALSE(joinPrune->hello.holdtimeSeconds);
  auto notPim = hello({});
  notPim[9] = kIgmp;
  EXPECT_FALSE(readHelloDetails(notPim));
  EXPECT_FALSE(readHelloDetails(ipv4Datagram(kPim, {0x20, 0, 0})));
}

}  // namespace
