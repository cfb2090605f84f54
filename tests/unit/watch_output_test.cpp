#include "app/watch_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/watch_run.h"
#include "datagram_builder.h"
#include "probes/igmp_messages.h"
#include "probes/pim_messages.h"

namespace {

using testing_support::ipv4Datagram;
using watch::LinkWatch;

net::Address address(const char* text) { return *net::Address::parse(text); }

std::vector<watch::Channel> beacons() {
  return {{address("233.4.200.19"), std::nullopt, 10002},
          {address("232.64.133.120"), address("192.0.2.9"), 8020}};
}

// The ASM group flows for 10 s at 10 a second, then stops; nobody queries.
LinkWatch silentLink() {
  LinkWatch watch(beacons(), net::Family::V4);
  watch.report({0, watch::ReportKind::Report, 3, address("233.4.200.19")});
  for (int tick = 0; tick < 100; ++tick) watch.datagram(0, address("192.0.2.9"), 61, tick * 0.1);
  watch.advance(12);
  return watch;
}

bool hasLine(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// Scripts search a timeline for "outage of GROUP", a channel's too.
TEST(WatchOutput, TimelineLinesBeginWithTheElapsedTimeAndNameTheGroupFirst) {
  EXPECT_EQ(watch::timelineLine({12.34, "x", "something", {}}), "[   12.3 s] something");
  EXPECT_EQ(watch::timelineLine({1234.56, "x", "y", {}}), "[ 1234.6 s] y");
  std::vector<std::string> lines;
  LinkWatch watch(beacons(), net::Family::V4, {},
                  [&](const watch::Event& event) { lines.push_back(event.text); });
  watch.datagram(1, address("192.0.2.9"), 61, 0);
  watch.datagram(1, address("192.0.2.9"), 61, 0.5);
  watch.advance(3.1);  // 5 times the one interval, 0.5 s
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("outage of 232.64.133.120 (source 192.0.2.9): ", 0), 0U)
      << lines.back();
}

TEST(WatchOutput, JsonCarriesTheContractsKeysAndAnOpenOutage) {
  const LinkWatch watch = silentLink();
  const nlohmann::json json = watch::watchJson(watch, {"h0", 60.0, 12});
  const nlohmann::json& body = json.at("watch");
  EXPECT_EQ(body.at("family"), "ipv4");
  EXPECT_EQ(body.at("interface"), "h0");
  EXPECT_DOUBLE_EQ(body.at("duration_s").get<double>(), 12);
  ASSERT_EQ(body.at("groups").size(), 2U);
  EXPECT_EQ(body["groups"][0].at("datagrams"), 100);
  EXPECT_TRUE(body["groups"][0].at("source").is_null());
  EXPECT_EQ(body["groups"][1].at("source"), "192.0.2.9");
  EXPECT_EQ(body["groups"][0]["senders"][0].at("ttl"), 61);
  ASSERT_EQ(body.at("outages").size(), 1U);
  const nlohmann::json& outage = body["outages"][0];
  EXPECT_TRUE(outage.at("ended_s").is_null());
  EXPECT_EQ(outage.at("cause"), "no-querier");
  EXPECT_NEAR(outage.at("began_s").get<double>(), 9.9, 1e-9);
  EXPECT_NEAR(outage.at("evidence").at("aging_s").get<double>(), 9.9, 1e-9);
  EXPECT_EQ(body.at("reports")[0].at("kind"), "report");
  bool began = false;
  for (const auto& event : body.at("events")) began = began || event.at("event") == "outage-began";
  EXPECT_TRUE(began);
  ASSERT_FALSE(json.at("diagnosis").empty());
  EXPECT_EQ(json["diagnosis"][0].at("id"), "no-querier");
}

TEST(WatchOutput, SummaryAndDiagnosisNameTheOutageAndItsCause) {
  const LinkWatch watch = silentLink();
  const std::string summary = watch::summaryText(watch, {"h0", 60.0, 12});
  EXPECT_TRUE(hasLine(summary, "  233.4.200.19: from 9.9 s, still out at the end, no-querier"))
      << summary;
  const std::string diagnosis =
      watch::diagnosisText(watch::watchDiagnosis(watch, {"h0", 60.0, 12}));
  EXPECT_NE(diagnosis.find("Problem (no-querier): 1 outage with no querier"), std::string::npos)
      << diagnosis;
  // A long enough watch without a query is a finding even without an outage.
  const LinkWatch quiet(beacons(), net::Family::V4);
  EXPECT_TRUE(watch::watchDiagnosis(quiet, {"h0", std::nullopt, 60}).empty());
  EXPECT_EQ(watch::watchDiagnosis(quiet, {"h0", std::nullopt, 130}).at(0).id, "no-querier");
}

TEST(WatchOutput, MetricsCountOutagesByCauseAndOmitWhatWasNeverSeen) {
  const LinkWatch watch = silentLink();
  const std::string metrics = watch::watchMetrics(watch, {"h0", std::nullopt, 12});
  EXPECT_TRUE(hasLine(metrics, "corvanite_watch_outages_total{cause=\"no-querier\"} 1"));
  EXPECT_TRUE(hasLine(metrics, "corvanite_watch_outages_total{cause=\"source-stopped\"} 0"));
  EXPECT_TRUE(hasLine(metrics, "corvanite_watch_in_outage{group=\"233.4.200.19\",source=\"\"} 1"));
  EXPECT_TRUE(hasLine(
      metrics, "corvanite_watch_datagrams_total{group=\"232.64.133.120\",source=\"192.0.2.9\"} 0"));
  // The SSM channel never sent: no age; nobody queried: no query age.
  EXPECT_EQ(metrics.find("corvanite_watch_last_datagram_age_seconds{group=\"232"),
            std::string::npos);
  EXPECT_EQ(metrics.find("corvanite_watch_last_query_age_seconds "), std::string::npos);
}

// Frames as the capture hands them: queries and Hellos heard, the host's own
// reports sent; a report of another host, heard, is no report of this one.
TEST(WatchFrames, QueriesHellosAndOnlyTheHostsOwnReports) {
  LinkWatch watch(beacons(), net::Family::V4);
  // IGMPv3 general query: Max Resp Code 100 (10 s), QRV 2, QQIC 125.
  const std::vector<std::uint8_t> query{0x11, 100, 0, 0, 0, 0, 0, 0, 0x02, 125, 0, 0};
  observeFrame(watch, ipv4Datagram(2, query, 1, {192, 0, 2, 1}), false, 1);
  ASSERT_EQ(watch.queries().size(), 1U);
  EXPECT_EQ(watch.queries()[0].kind, watch::QueryKind::General);
  EXPECT_EQ(watch.queries()[0].version, 3);
  EXPECT_DOUBLE_EQ(watch.queries()[0].maxResponseS, 10);
  EXPECT_EQ(watch.queries()[0].intervalS, 125);
  EXPECT_EQ(watch.queries()[0].source, address("192.0.2.1"));

  const auto v2 = igmpV2Report(address("233.4.200.19"));
  const auto report = ipv4Datagram(2, {v2.begin(), v2.end()}, 1);
  observeFrame(watch, report, false, 2);
  EXPECT_TRUE(watch.reports().empty());
  observeFrame(watch, report, true, 2);
  ASSERT_EQ(watch.reports().size(), 1U);
  EXPECT_EQ(watch.reports()[0].group, address("233.4.200.19"));

  const auto hello = pimHello(7, 105);
  observeFrame(watch, ipv4Datagram(103, {hello.begin(), hello.end()}, 0, {192, 0, 2, 1}), false, 3);
  ASSERT_EQ(watch.neighbours().size(), 1U);
  EXPECT_EQ(watch.neighbours().begin()->second.generationId, 7U);
  // Cut short: passed over.
  observeFrame(watch, std::vector<std::uint8_t>(query.begin(), query.begin() + 4), false, 4);
  EXPECT_EQ(watch.queryCount(), 1U);
}

}  // namespace
