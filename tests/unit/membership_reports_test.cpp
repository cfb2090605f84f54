#include "probes/membership_reports.h"

#include <gtest/gtest.h>

#include <vector>

#include "datagram_builder.h"
#include "probes/igmp_messages.h"
#include "probes/mld_messages.h"

namespace {

using testing_support::ipv4Datagram;
using testing_support::ipv6Datagram;

net::Address address(const char* text) { return *net::Address::parse(text); }

template <std::size_t N>
std::vector<std::uint8_t> bytes(const std::array<std::uint8_t, N>& message) {
  return {message.begin(), message.end()};
}

TEST(ReportRecords, IgmpReportsAndLeavesOfEachVersion) {
  const net::Address group = address("233.4.200.19");
  auto v2 = readReportRecords(ipv4Datagram(2, bytes(igmpV2Report(group))));
  ASSERT_EQ(v2.size(), 1U);
  EXPECT_EQ(v2[0].version, 2);
  EXPECT_EQ(v2[0].kind, ReportRecord::Kind::Report);
  EXPECT_EQ(v2[0].group, group);
  auto leave = readReportRecords(ipv4Datagram(2, bytes(igmpV2Leave(group))));
  ASSERT_EQ(leave.size(), 1U);
  EXPECT_EQ(leave[0].kind, ReportRecord::Kind::Leave);
  // Record types 5 (ALLOW) and 6 (BLOCK): a join and a leave of a channel.
  const net::Address source = address("192.0.2.9");
  auto join = readReportRecords(ipv4Datagram(2, bytes(igmpV3Report(group, source, 5))));
  ASSERT_EQ(join.size(), 1U);
  EXPECT_EQ(join[0].version, 3);
  EXPECT_EQ(join[0].kind, ReportRecord::Kind::Report);
  auto block = readReportRecords(ipv4Datagram(2, bytes(igmpV3Report(group, source, 6))));
  ASSERT_EQ(block.size(), 1U);
  EXPECT_EQ(block[0].kind, ReportRecord::Kind::Leave);
}

// A Linux host answers a general query with one report of several records.
TEST(ReportRecords, EveryRecordOfAVersion3ReportAndNoReadPastTheEnd) {
  const std::vector<std::uint8_t> report{
      0x22, 0, 0, 0, 0,   0, 0, 3, 2,   0, 0, 0, 233, 4, 200, 19,  // EXCLUDE {}: a report
      1,    1, 0, 1, 232, 1, 1, 1, 192, 0, 2, 9,                   // INCLUDE {source}, one aux word
      0,    0, 0, 0, 3,   0, 0, 0, 239, 1, 2, 3};                  // TO_IN {}: a leave
  const auto records = readReportRecords(ipv4Datagram(2, report));
  ASSERT_EQ(records.size(), 3U);
  EXPECT_EQ(records[1].group, address("232.1.1.1"));
  EXPECT_EQ(records[2].kind, ReportRecord::Kind::Leave);
  EXPECT_EQ(records[2].group, address("239.1.2.3"));
  // Cut inside the third record: the two whole ones only.
  const std::vector<std::uint8_t> cut(report.begin(), report.end() - 2);
  EXPECT_EQ(readReportRecords(ipv4Datagram(2, cut)).size(), 2U);
  // A count that promises more than arrived.
  std::vector<std::uint8_t> overstated = report;
  overstated[7] = 200;
  EXPECT_EQ(readReportRecords(ipv4Datagram(2, overstated)).size(), 3U);
}

TEST(ReportRecords, MldReportsDonesAndOtherMessages) {
  const net::Address group = address("ff3e::120");
  const net::Address source = address("2001:db8::20");
  auto v2 = readReportRecords(ipv6Datagram(58, bytes(mldV2Report(group, source, 5))));
  ASSERT_EQ(v2.size(), 1U);
  EXPECT_EQ(v2[0].version, 2);
  EXPECT_EQ(v2[0].group, group);
  auto done = readReportRecords(ipv6Datagram(58, bytes(mldV1Done(group))));
  ASSERT_EQ(done.size(), 1U);
  EXPECT_EQ(done[0].kind, ReportRecord::Kind::Leave);
  EXPECT_EQ(done[0].version, 1);
  // A query is no report, nor is IGMP in an IPv6 datagram.
  std::vector<std::uint8_t> query(24, 0);
  query[0] = 130;
  EXPECT_TRUE(readReportRecords(ipv6Datagram(58, query)).empty());
  EXPECT_TRUE(
      readReportRecords(ipv6Datagram(2, bytes(igmpV2Report(address("233.4.200.19"))))).empty());
}

}  // namespace
