#include "app/watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using watch::Cause;
using watch::LinkWatch;
using watch::Query;
using watch::QueryKind;

net::Address address(const char* text) { return *net::Address::parse(text); }

const net::Address kSender = address("192.0.2.9");
const net::Address kQuerier = address("192.0.2.1");

// The ASM group (channel 0) and the SSM channel (channel 1).
std::vector<watch::Channel> beacons() {
  return {{address("233.4.200.19"), std::nullopt, 10002},
          {address("232.64.133.120"), address("192.0.2.9"), 8020}};
}

// Both beacons at 10 datagrams a second over [from, to).
void stream(LinkWatch& watch, double from, double to, std::vector<std::size_t> channels = {0, 1}) {
  for (int tick = 0; from + tick * 0.1 < to - 1e-9; ++tick) {
    for (const std::size_t channel : channels)
      watch.datagram(channel, kSender, 64, from + tick * 0.1);
  }
}

Query general(double t, int version = 3, double interval = 5) {
  return Query{t,
               kQuerier,
               version,
               QueryKind::General,
               std::nullopt,
               1.0,
               version == 3 ? std::optional<int>(static_cast<int>(interval)) : std::nullopt,
               version == 3 ? std::optional<int>(2) : std::nullopt};
}

// The host answers each query within its response time, for both groups.
void answeredQueries(LinkWatch& watch, double from, double to, double every, int version = 3) {
  for (double t = from; t < to; t += every) {
    watch.query(general(t, version, every));
    watch.report({t, watch::ReportKind::Report, version, address("233.4.200.19")});
    watch.report({t, watch::ReportKind::Report, version, address("232.64.133.120")});
  }
}

// Streams and queries interleaved in time order, as a receiver hands them.
void healthy(LinkWatch& watch, double from, double to, double every) {
  for (double t = from; t < to; t += every) {
    answeredQueries(watch, t, t + 0.01, every);
    stream(watch, t, std::min(to, t + every));
  }
}

TEST(WatchGapRule, ThresholdIsFiveMediansAndAtLeastASecond) {
  EXPECT_FALSE(watch::gapThreshold({}).has_value());
  EXPECT_DOUBLE_EQ(*watch::gapThreshold({0.1, 0.1, 0.1}), 1.0);
  EXPECT_DOUBLE_EQ(*watch::gapThreshold({1.0, 1.0, 30.0}), 5.0);
  EXPECT_DOUBLE_EQ(*watch::gapThreshold({2.0, 1.0, 3.0, 4.0}), 12.5);
}

TEST(WatchGapRule, OutageBeginsJustPastTheThresholdAtTheLastDatagram) {
  LinkWatch watch(beacons(), net::Family::V4);
  stream(watch, 0, 10, {0});
  const double last = watch.channels()[0].lastS.value();
  watch.advance(last + 0.99);
  EXPECT_EQ(watch.outageCount(), 0U);
  EXPECT_NEAR(*watch.nextDeadline(), last + 1.0, 1e-9);
  watch.advance(last + 1.01);
  ASSERT_EQ(watch.outageCount(), 1U);
  const auto outage = watch.outages().front();
  EXPECT_DOUBLE_EQ(outage.beganS, last);
  EXPECT_FALSE(outage.endedS.has_value());
  // The channel that never sent has no outage: its rate is unknown.
  EXPECT_FALSE(watch.channels()[1].open.has_value());
  // Once the outage is open, nothing more is due from it.
  EXPECT_FALSE(watch.nextDeadline().has_value());
}

TEST(WatchGapRule, LateDatagramWithinTheRuleIsNoOutageAndOneMissedTickIsCaught) {
  LinkWatch watch(beacons(), net::Family::V4);
  // One datagram a second: the threshold is 5 s.
  for (int second = 0; second < 20; ++second) watch.datagram(0, kSender, 64, second);
  watch.datagram(0, kSender, 64, 23.9);
  EXPECT_EQ(watch.outageCount(), 0U);
  // A datagram that comes after the threshold, with no advance in between,
  // still shows the outage, begun and ended.
  watch.datagram(0, kSender, 64, 30.0);
  ASSERT_EQ(watch.outageCount(), 1U);
  EXPECT_DOUBLE_EQ(watch.outages()[0].beganS, 23.9);
  EXPECT_DOUBLE_EQ(*watch.outages()[0].endedS, 30.0);
}

TEST(WatchGapRule, OutageEndsWhenDatagramsResumeAndTheGapDoesNotRaiseTheThreshold) {
  std::vector<std::string> lines;
  LinkWatch watch(beacons(), net::Family::V4, {},
                  [&](const watch::Event& event) { lines.push_back(event.text); });
  stream(watch, 0, 5, {0});
  watch.advance(20);
  stream(watch, 20, 25, {0});
  ASSERT_EQ(watch.outageCount(), 1U);
  EXPECT_DOUBLE_EQ(*watch.outages()[0].endedS, 20.0);
  EXPECT_NEAR(*watch::gapThreshold(watch.channels()[0].intervals), 1.0, 1e-9);
  bool endedLine = false;
  for (const std::string& line : lines) {
    if (line.find("outage of 233.4.200.19 ended after 15.1 s") != std::string::npos)
      endedLine = true;
  }
  EXPECT_TRUE(endedLine);
}

TEST(WatchCauses, NoQuerierStatesTheSwitchesAgingTime) {
  LinkWatch watch(beacons(), net::Family::V4);
  watch.report({0.5, watch::ReportKind::Report, 3, address("233.4.200.19")});
  stream(watch, 0, 20.5);
  watch.advance(30);
  const auto outages = watch.outages();
  ASSERT_EQ(outages.size(), 2U);
  EXPECT_EQ(outages[0].cause, Cause::NoQuerier);
  EXPECT_NEAR(outages[0].evidence["aging_s"].get<double>(), 19.9, 1e-6);
  EXPECT_EQ(watch.outagesByCause()[static_cast<std::size_t>(Cause::NoQuerier)], 2U);
}

TEST(WatchCauses, QuerierThatFallsSilentIsLost) {
  LinkWatch watch(beacons(), net::Family::V4);
  healthy(watch, 0, 30, 5);
  // The querier's last query was at 25 s; the switch ages the port 20 s on.
  stream(watch, 30, 45.4);
  watch.advance(50);
  const auto outages = watch.outages();
  ASSERT_EQ(outages.size(), 2U);
  EXPECT_EQ(outages[0].cause, Cause::QuerierLost) << outages[0].evidence.dump();
  EXPECT_DOUBLE_EQ(outages[0].evidence["last_query_s"].get<double>(), 25.0);
  EXPECT_DOUBLE_EQ(outages[0].evidence["query_interval_s"].get<double>(), 5.0);
}

// A switch that stops forwarding as soon as its querier goes: the stream
// stops before a query is overdue, and the cause follows once one is.
TEST(WatchCauses, QuerierLostIsTakenBackFromSourceStoppedOnceAQueryIsOverdue) {
  std::vector<std::string> kinds;
  LinkWatch watch(beacons(), net::Family::V4, {},
                  [&](const watch::Event& event) { kinds.push_back(event.event); });
  healthy(watch, 0, 27, 5);
  watch.advance(28.5);
  ASSERT_EQ(watch.outageCount(), 2U);
  EXPECT_EQ(watch.outages()[0].cause, Cause::SourceStopped);
  watch.advance(32);
  EXPECT_EQ(watch.outages()[0].cause, Cause::SourceStopped) << "a query is not overdue yet";
  watch.advance(33.6);
  EXPECT_EQ(watch.outages()[0].cause, Cause::QuerierLost);
  EXPECT_EQ(watch.outagesByCause()[static_cast<std::size_t>(Cause::QuerierLost)], 2U);
  EXPECT_EQ(watch.outagesByCause()[static_cast<std::size_t>(Cause::SourceStopped)], 0U);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "outage-cause"), 2);
}

TEST(WatchCauses, SourceStoppedWhileQueriesAndReportsWentOn) {
  LinkWatch watch(beacons(), net::Family::V4);
  healthy(watch, 0, 30, 5);
  // The SSM source stops at 30 s; the ASM group and the queries go on.
  for (double t = 30; t < 50; t += 5) {
    answeredQueries(watch, t, t + 0.01, 5);
    stream(watch, t, t + 5, {0});
  }
  const auto outages = watch.outages();
  ASSERT_EQ(outages.size(), 1U);
  EXPECT_EQ(outages[0].channel, 1U);
  EXPECT_EQ(outages[0].cause, Cause::SourceStopped) << outages[0].evidence.dump();
  EXPECT_TRUE(outages[0].evidence["other_groups_flowing"].get<bool>());
}

TEST(WatchCauses, HostThatDoesNotAnswerQueries) {
  LinkWatch watch(beacons(), net::Family::V4);
  healthy(watch, 0, 20, 5);
  // Queries go on; the host's reports stop leaving.
  for (double t = 20; t < 30; t += 5) {
    watch.query(general(t));
    stream(watch, t, t + 5);
  }
  watch.advance(31.5);
  const auto outages = watch.outages();
  ASSERT_FALSE(outages.empty());
  EXPECT_EQ(outages[0].cause, Cause::HostNotReporting) << outages[0].evidence.dump();
  EXPECT_DOUBLE_EQ(outages[0].evidence["unanswered_query_s"].get<double>(), 25.0);
}

TEST(WatchCauses, OlderVersionQueryStopsTheChannelNotTheGroup) {
  LinkWatch watch(beacons(), net::Family::V4);
  healthy(watch, 0, 20, 5);
  // An IGMPv2 querier appears; the host falls back and the channel stops.
  stream(watch, 20, 21);
  watch.query(general(21, 2));
  watch.report({21.3, watch::ReportKind::Report, 2, address("232.64.133.120")});
  stream(watch, 21.3, 40, {0});
  const auto outages = watch.outages();
  ASSERT_EQ(outages.size(), 1U);
  EXPECT_EQ(outages[0].channel, 1U);
  EXPECT_EQ(outages[0].cause, Cause::OldVersionQuery) << outages[0].evidence.dump();
  EXPECT_TRUE(outages[0].evidence["host_fell_back"].get<bool>());
  EXPECT_EQ(outages[0].evidence["version"], 2);
}

// The old querier goes on querying and the host on answering it in IGMPv2:
// later queries and reports are no reason to judge the outage again as a
// source that stopped.
TEST(WatchCauses, OlderVersionQueryHoldsWhileTheOldQuerierGoesOn) {
  LinkWatch watch(beacons(), net::Family::V4);
  healthy(watch, 0, 20, 5);
  stream(watch, 20, 21);
  for (double t = 21; t < 60; t += 5) {
    watch.query(general(t, 2));
    watch.report({t + 0.3, watch::ReportKind::Report, 2, address("233.4.200.19")});
    watch.report({t + 0.3, watch::ReportKind::Report, 2, address("232.64.133.120")});
    stream(watch, t, t + 5, {0});
  }
  watch.advance(61);
  const auto outages = watch.outages();
  ASSERT_EQ(outages.size(), 1U);
  EXPECT_EQ(outages[0].channel, 1U);
  EXPECT_EQ(outages[0].cause, Cause::OldVersionQuery) << outages[0].evidence.dump();
  EXPECT_DOUBLE_EQ(outages[0].evidence["older_query_s"].get<double>(), 21.0);
  EXPECT_TRUE(outages[0].evidence["host_fell_back"].get<bool>());
  // The last report before the channel stopped, not the latest one.
  EXPECT_LE(outages[0].evidence["last_report_s"].get<double>(), 21.0);
}

TEST(WatchCauses, LinkDownAndUnseenLink) {
  LinkWatch down(beacons(), net::Family::V4);
  healthy(down, 0, 10, 5);
  down.link(false, 10.05);
  down.advance(15);
  down.link(true, 16);
  stream(down, 17, 18);
  ASSERT_EQ(down.outageCount(), 2U);
  EXPECT_EQ(down.outages()[0].cause, Cause::LinkDown);
  EXPECT_TRUE(down.outages()[0].endedS.has_value());

  // Without the link's queries in view, no cause is claimed.
  LinkWatch blind(beacons(), net::Family::V4);
  blind.setLinkVisible(false);
  stream(blind, 0, 10);
  blind.advance(15);
  EXPECT_EQ(blind.outages()[0].cause, Cause::Unknown);
}

TEST(WatchCauses, HealthyLinkHasNoOutage) {
  LinkWatch watch(beacons(), net::Family::V4);
  healthy(watch, 0, 120, 5);
  watch.advance(120.5);
  EXPECT_EQ(watch.outageCount(), 0U);
  ASSERT_EQ(watch.queriers().size(), 1U);
  EXPECT_EQ(watch.queriers()[0].queries, 24U);
  EXPECT_EQ(watch.channels()[0].datagrams, 1200U);
}

TEST(WatchRecords, PimNeighboursComeRestartAndExpire) {
  std::vector<std::string> kinds;
  LinkWatch watch(beacons(), net::Family::V4, {},
                  [&](const watch::Event& event) { kinds.push_back(event.event); });
  const net::Address router = address("192.0.2.1");
  watch.hello({1, router, 105, 7});
  watch.hello({31, router, 105, 7});
  watch.hello({61, router, 105, 8});
  EXPECT_NEAR(*watch.nextDeadline(), 166, 1e-9);
  watch.advance(167);
  watch.hello({170, address("192.0.2.2"), 105, 1});
  watch.hello({171, address("192.0.2.2"), 0, 1});
  EXPECT_TRUE(watch.neighbours().empty());
  EXPECT_EQ(kinds, (std::vector<std::string>{"pim-neighbour-up", "pim-neighbour-restarted",
                                             "pim-neighbour-expired", "pim-neighbour-up",
                                             "pim-neighbour-down"}));
}

// A watch of days keeps no more than its bounds, and counts the rest.
TEST(WatchRecords, HistoriesStayBounded) {
  watch::Limits limits;
  limits.events = 10;
  limits.queries = 5;
  limits.reports = 5;
  limits.outages = 3;
  limits.senders = 2;
  LinkWatch watch(beacons(), net::Family::V4, limits);
  double t = 0;
  for (int round = 0; round < 50; ++round) {
    watch.query({t, address(round % 2 == 0 ? "192.0.2.1" : "192.0.2.3"), 3, QueryKind::Group,
                 address("233.4.200.19"), 1, 5, 2});
    watch.report({t, watch::ReportKind::Report, 3, address("233.4.200.19")});
    watch.datagram(0, address(round < 10 ? "192.0.2.9" : "192.0.2.10"), 64, t);
    watch.datagram(0, address("192.0.2.11"), 64, t + 0.1);
    t += 10;  // each round's gap is an outage of its own
  }
  EXPECT_EQ(watch.events().size(), 10U);
  EXPECT_GT(watch.eventCount(), 100U);
  EXPECT_EQ(watch.queries().size(), 5U);
  EXPECT_EQ(watch.queryCount(), 50U);
  EXPECT_EQ(watch.reports().size(), 5U);
  EXPECT_EQ(watch.channels()[0].senders.size(), 2U);
  EXPECT_EQ(watch.channels()[0].otherSenders, 40U);
  EXPECT_LE(watch.outages().size(), 4U);
  EXPECT_EQ(watch.outageCount(), 49U);
  EXPECT_LE(watch.channels()[0].intervals.size(), 16U);
}

}  // namespace
