#include "probes/igmp_messages.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "net/address.h"
#include "net/checksum.h"
#include "tests/unit/datagram_builder.h"

namespace {

using testing_support::ipv4Datagram;

in_addr address(const char* text) { return net::parseAddress(text).value(); }

const in_addr kAsmGroup = address("233.4.200.19");
const in_addr kSsmGroup = address("232.64.133.120");
const in_addr kSource = address("198.51.100.20");

TEST(IgmpMessages, V2ReportAndLeaveAreByteExact) {
  EXPECT_EQ(igmpV2Report(kAsmGroup),
            (std::array<std::uint8_t, 8>{0x16, 0x00, 0x38, 0xE7, 0xE9, 0x04, 0xC8, 0x13}));
  EXPECT_EQ(igmpV2Leave(kAsmGroup),
            (std::array<std::uint8_t, 8>{0x17, 0x00, 0x37, 0xE7, 0xE9, 0x04, 0xC8, 0x13}));
}

TEST(IgmpMessages, V3ReportCarriesOneSourceRecord) {
  const auto allow = igmpV3Report(kSsmGroup, kSource, kIgmpV3AllowNewSources);
  const std::array<std::uint8_t, 20> expected{0x22, 0x00, allow[2], allow[3], 0x00, 0x00, 0x00,
                                              0x01, 0x05, 0x00,     0x00,     0x01, 0xE8, 0x40,
                                              0x85, 0x78, 198,      51,       100,  20};
  EXPECT_EQ(allow, expected);
  EXPECT_EQ(net::internetChecksum(allow), 0);

  const auto block = igmpV3Report(kSsmGroup, kSource, kIgmpV3BlockOldSources);
  EXPECT_EQ(block[8], 0x06);
  EXPECT_EQ(net::internetChecksum(block), 0);
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (i != 2 && i != 3 && i != 8) {
      EXPECT_EQ(block[i], allow[i]) << "byte " << i;
    }
  }
  // Record types are written as given, checked or not.
  EXPECT_EQ(igmpV3Report(kSsmGroup, kSource, 9)[8], 9);
}

std::vector<std::uint8_t> igmp(std::uint8_t type, in_addr group, std::uint8_t optionWords = 0) {
  std::vector<std::uint8_t> message{type, 100, 0, 0};
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&group.s_addr);
  message.insert(message.end(), bytes, bytes + 4);
  return ipv4Datagram(2, message, optionWords);
}

bool asksAbout(const std::vector<std::uint8_t>& datagram, const in_addr& group) {
  const auto query = readMembershipQuery(datagram, group);
  EXPECT_TRUE(query.has_value()) << "not read as a query";
  return query && query->asksAboutGroup;
}

TEST(IgmpMessages, QueriesAreToldApartByTheGroupTheyName) {
  EXPECT_TRUE(asksAbout(igmp(0x11, in_addr{}), kAsmGroup)) << "a general query";
  EXPECT_TRUE(asksAbout(igmp(0x11, kAsmGroup), kAsmGroup));
  EXPECT_FALSE(asksAbout(igmp(0x11, kSsmGroup), kAsmGroup)) << "another group's query";
  // A prober whose own group is 0.0.0.0 takes a general query as its own.
  EXPECT_TRUE(asksAbout(igmp(0x11, in_addr{}), in_addr{}));
}

TEST(IgmpMessages, V3GroupAndSourceQueryBehindRouterAlertIsGroupSpecific) {
  const std::vector<std::uint8_t> query{0x11, 10,  0,    0,    0xE8, 0x40, 0x85, 0x78,
                                        0x02, 125, 0x00, 0x01, 198,  51,   100,  20};
  const auto datagram = ipv4Datagram(2, query, 1);
  ASSERT_EQ(datagram[0], 0x46);
  EXPECT_TRUE(asksAbout(datagram, kSsmGroup));
}

TEST(IgmpMessages, ReportsAndLeavesAreNotQueries) {
  for (const std::uint8_t type : std::vector<std::uint8_t>{0x12, 0x16, 0x17, 0x22}) {
    EXPECT_FALSE(readMembershipQuery(igmp(type, kAsmGroup), kAsmGroup)) << int{type};
    EXPECT_FALSE(readMembershipQuery(igmp(type, in_addr{}), kAsmGroup)) << int{type};
  }
}

TEST(IgmpMessages, CutShortQueriesAreSkipped) {
  auto query = igmp(0x11, kAsmGroup);
  for (std::size_t length = 0; length < query.size(); ++length) {
    const std::vector<std::uint8_t> runt(query.begin(),
                                         query.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(readMembershipQuery(runt, kAsmGroup)) << length << " bytes";
  }
  query[0] = 0x44;  // a 16-byte header is no IPv4 header
  EXPECT_FALSE(readMembershipQuery(query, kAsmGroup));
}

}  // namespace
