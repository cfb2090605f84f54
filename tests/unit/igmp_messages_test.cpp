#include "probes/igmp_messages.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "net/address.h"
#include "net/packet/checksum.h"
#include "tests/unit/datagram_builder.h"

namespace {

using testing_support::ipv4Datagram;

const net::Address kAsmGroup = *net::Address::parseV4("233.4.200.19");
const net::Address kSsmGroup = *net::Address::parseV4("232.64.133.120");
const net::Address kSource = *net::Address::parseV4("198.51.100.20");
const net::Address kNoGroup;

// The checksums in these messages are scapy's (its IGMP and IGMPv3 layers
// building the same messages), not this tool's.
TEST(IgmpMessages, V2ReportAndLeaveAreByteExact) {
  EXPECT_EQ(igmpV2Report(kAsmGroup),
            (std::array<std::uint8_t, 8>{0x16, 0x00, 0x38, 0xE7, 0xE9, 0x04, 0xC8, 0x13}));
  EXPECT_EQ(igmpV2Leave(kAsmGroup),
            (std::array<std::uint8_t, 8>{0x17, 0x00, 0x37, 0xE7, 0xE9, 0x04, 0xC8, 0x13}));
}

TEST(IgmpMessages, V3ReportCarriesOneSourceRecord) {
  EXPECT_EQ(igmpV3Report(kSsmGroup, kSource, kIgmpV3AllowNewSources),
            (std::array<std::uint8_t, 20>{0x22, 0x00, 0x40, 0xFC,     // type, checksum
                                          0x00, 0x00, 0x00, 0x01,     // one record
                                          0x05, 0x00, 0x00, 0x01,     // ALLOW, 1 source
                                          0xE8, 0x40, 0x85, 0x78,     // 232.64.133.120
                                          0xC6, 0x33, 0x64, 0x14}));  // 198.51.100.20
  EXPECT_EQ(
      igmpV3Report(kSsmGroup, kSource, kIgmpV3BlockOldSources),
      (std::array<std::uint8_t, 20>{0x22, 0x00, 0x3F, 0xFC, 0x00, 0x00, 0x00, 0x01, 0x06, 0x00,
                                    0x00, 0x01, 0xE8, 0x40, 0x85, 0x78, 0xC6, 0x33, 0x64, 0x14}));
  // Record types are written as given, checked or not.
  const auto other = igmpV3Report(kSsmGroup, kSource, 9);
  EXPECT_EQ(other[8], 9);
  EXPECT_EQ(net::internetChecksum(other), 0);
}

std::vector<std::uint8_t> igmp(std::uint8_t type, const net::Address& group,
                               std::uint8_t optionWords = 0) {
  std::vector<std::uint8_t> message{type, 100, 0, 0};
  message.insert(message.end(), group.bytes().begin(), group.bytes().end());
  return ipv4Datagram(2, message, optionWords);
}

bool answersFor(const std::vector<std::uint8_t>& datagram, const net::Address& group) {
  const auto query = readMembershipQuery(datagram);
  EXPECT_TRUE(query.has_value()) << "not read as a query";
  return query && asksAbout(*query, group);
}

TEST(IgmpMessages, QueriesAreToldApartByTheGroupTheyName) {
  EXPECT_TRUE(answersFor(igmp(0x11, kNoGroup), kAsmGroup)) << "a general query";
  EXPECT_TRUE(answersFor(igmp(0x11, kAsmGroup), kAsmGroup));
  EXPECT_FALSE(answersFor(igmp(0x11, kSsmGroup), kAsmGroup)) << "another group's query";
  // A prober whose own group is 0.0.0.0 takes a general query as its own.
  EXPECT_TRUE(answersFor(igmp(0x11, kNoGroup), kNoGroup));
  EXPECT_FALSE(answersFor(igmp(0x11, kAsmGroup), kNoGroup));
}

TEST(IgmpMessages, V3GroupAndSourceQueryBehindRouterAlertIsGroupSpecific) {
  const std::vector<std::uint8_t> query{0x11, 10,  0,    0,    0xE8, 0x40, 0x85, 0x78,
                                        0x02, 125, 0x00, 0x01, 198,  51,   100,  20};
  const auto datagram = ipv4Datagram(2, query, 1);
  ASSERT_EQ(datagram[0], 0x46);
  EXPECT_TRUE(answersFor(datagram, kSsmGroup));
  EXPECT_FALSE(answersFor(datagram, kAsmGroup));
}

TEST(IgmpMessages, ReportsAndLeavesAreNotQueries) {
  for (const std::uint8_t type : std::vector<std::uint8_t>{0x12, 0x16, 0x17, 0x22}) {
    EXPECT_FALSE(readMembershipQuery(igmp(type, kAsmGroup))) << int{type};
    EXPECT_FALSE(readMembershipQuery(igmp(type, kNoGroup))) << int{type};
  }
}

TEST(IgmpMessages, CutShortQueriesAreSkipped) {
  auto query = igmp(0x11, kAsmGroup);
  for (std::size_t length = 0; length < query.size(); ++length) {
    const std::vector<std::uint8_t> runt(query.begin(),
                                         query.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(readMembershipQuery(runt)) << length << " bytes";
  }
  query[0] = 0x44;  // a 16-byte header is no IPv4 header
  EXPECT_FALSE(readMembershipQuery(query));
}

}  // namespace
