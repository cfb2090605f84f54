// The metrics file: what a pass in the scripted lab turns into, the format a
// scraper reads, the bounds on its series, and how the file is replaced.
#include "app/prometheus_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app/battery.h"
#include "app/conclusions.h"
#include "app/pass_fan_out.h"
#include "app/run.h"
#include "app/text_output.h"
#include "net/platform.h"
#include "tests/unit/metrics_text.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace {

using namespace testing_support;

// 2026-12-08T18:59:26.505Z
const PassTiming kTiming{
    std::chrono::system_clock::time_point(std::chrono::milliseconds(1796756366505)), 22014};

PassFindings passIn(const ScriptedLab& lab) {
  ScriptedNetwork network;
  lab.install(network);
  PassObserver quiet;
  PassFindings findings;
  runPassInto(network, labSetup(), quiet, findings);
  findings.chosenInterface = InterfaceSummary{"eth0", "10.0.1.2", "option"};
  return findings;
}

PassFindings bareLinkPass() {
  ScriptedNetwork network;
  PassObserver quiet;
  PassFindings findings;
  runPassInto(network, labSetup(), quiet, findings);
  findings.chosenInterface = InterfaceSummary{"eth0", "10.0.1.2", "option"};
  return findings;
}

double valueOf(const std::vector<MetricSample>& all, const std::string& name,
               const std::string& label, const std::string& value) {
  const auto found = samplesOf(all, name, label, value);
  if (found.size() != 1) throw std::runtime_error(name + " " + value + ": not one sample");
  return found[0].value;
}

TEST(PrometheusText, FullLabPassSaysEveryTestSucceededWithTheBatteryTablesLabels) {
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, {passIn(ScriptedLab{})})));
  const auto success = samplesOf(samples, "corvanite_test_success");
  ASSERT_EQ(success.size(), ipv4Battery().size());
  for (std::size_t i = 0; i < success.size(); ++i) {
    const BatteryTest& test = ipv4Battery()[i];
    EXPECT_EQ(success[i].labels.at("number"), std::to_string(test.number));
    EXPECT_EQ(success[i].labels.at("test"), test.name);
    EXPECT_EQ(success[i].labels.at("family"), "ipv4");
    EXPECT_EQ(success[i].value, 1) << test.name;
    EXPECT_EQ(valueOf(samples, "corvanite_test_error", "test", test.name), 0);
  }
  EXPECT_EQ(valueOf(samples, "corvanite_test_duration_seconds", "test", "ssm-beacon"), 4.0);
  EXPECT_EQ(valueOf(samples, "corvanite_test_duration_seconds", "test", "igmpv3-query"), 8.0);
  EXPECT_EQ(valueOf(samples, "corvanite_beacon_members", "test", "asm-beacon"), 1);
  EXPECT_EQ(valueOf(samples, "corvanite_beacon_datagrams", "test", "asm-beacon"), 20);
  const auto ssm = samplesOf(samples, "corvanite_beacon_members", "test", "ssm-beacon");
  ASSERT_EQ(ssm.size(), 1U);
  EXPECT_EQ(ssm[0].labels.at("source"), "198.51.100.20");
  EXPECT_EQ(ssm[0].labels.at("group"), "232.64.133.120");
  EXPECT_EQ(ssm[0].labels.at("port"), "8020");
  const auto pings = samplesOf(samples, "corvanite_router_ping_round_trip_seconds");
  ASSERT_EQ(pings.size(), 3U);
  std::set<std::string> groups;
  for (const MetricSample& ping : pings) {
    groups.insert(ping.labels.at("group"));
    EXPECT_EQ(ping.labels.at("router"), "10.0.1.1");
    EXPECT_DOUBLE_EQ(ping.value, 0.001);
  }
  EXPECT_EQ(groups, (std::set<std::string>{"224.0.0.2", "224.0.0.22", "224.0.0.13"}));
  for (const MetricSample& sample : samples) {
    EXPECT_EQ(sample.labels.at("interface"), "eth0") << sample.name;
  }
}

TEST(PrometheusText, EveryConclusionIsThereAndOnlyThoseThatHeldAreOne) {
  const PassFindings findings = passIn(ScriptedLab{});
  std::set<std::string> held;
  for (const HeldConclusion& conclusion : conclusionsThatHold(findings)) {
    held.insert(std::string(conclusion.rule->id));
  }
  ASSERT_EQ(held.size(), 10U);
  const auto samples = samplesOf(readMetricsText(prometheusText(reportOf(kTiming, {findings}))),
                                 "corvanite_conclusion");
  const auto ipv4Rules =
      std::count_if(conclusions().begin(), conclusions().end(),
                    [](const Conclusion& rule) { return rule.family == net::Family::V4; });
  ASSERT_EQ(samples.size(), static_cast<std::size_t>(ipv4Rules));
  for (const Conclusion& rule : conclusions()) {
    if (rule.family != net::Family::V4) continue;
    EXPECT_EQ(valueOf(samples, "corvanite_conclusion", "id", std::string(rule.id)),
              held.count(std::string(rule.id)) > 0 ? 1 : 0)
        << rule.id;
  }
  EXPECT_EQ(valueOf(samples, "corvanite_conclusion", "id", "path-asm-no-traffic"), 0);
}

TEST(PrometheusText, APassOfBothFamiliesIsOneFileWithEachFamilysSeriesApart) {
  PassSetup setup6;
  setup6.family = net::Family::V6;
  setup6.link.chosen = net::LinkInterface{
      "eth0", kLabInterfaceIndex, *net::Address::parseV6("fe80::2"), net::ChosenBy::Option, 64};
  setup6.asmGroup = options::AsmGroup{*net::Address::parseV6("ff3e:20:2001:db8::19"), 10002};
  setup6.ssmChannel = options::SsmChannel{*net::Address::parseV6("2001:db8::20"),
                                          *net::Address::parseV6("ff3e::120"), 8020};
  ScriptedNetwork bare;
  PassObserver quiet;
  std::vector<PassFindings> both{passIn(ScriptedLab{}), PassFindings{}};
  runPassInto(bare, setup6, quiet, both[1]);
  both[1].chosenInterface = InterfaceSummary{"eth0", "fe80::2", "option"};

  // readMetricsText fails on a family described twice.
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, both)));
  for (const std::string family : {"ipv4", "ipv6"}) {
    const auto tests = samplesOf(samples, "corvanite_test_success", "family", family);
    ASSERT_EQ(tests.size(), 8U) << family;
    const auto succeeded = std::count_if(tests.begin(), tests.end(),
                                         [](const MetricSample& s) { return s.value == 1; });
    EXPECT_EQ(succeeded, family == "ipv4" ? 8 : 0) << family;
    EXPECT_EQ(samplesOf(samples, "corvanite_pass_interface_info", "family", family).size(), 1U);
  }
  // The full IPv4 lab's querier, and none on the silent IPv6 link.
  const auto queriers = samplesOf(samples, "corvanite_igmp_querier_info");
  ASSERT_EQ(queriers.size(), 1U);
  EXPECT_EQ(queriers[0].labels.at("family"), "ipv4");
  for (const MetricSample& conclusion :
       samplesOf(samples, "corvanite_conclusion", "family", "ipv6")) {
    EXPECT_NE(conclusion.labels.at("id").find("ipv6"), std::string::npos)
        << conclusion.labels.at("id");
  }
  EXPECT_EQ(samplesOf(samples, "corvanite_pass_start_timestamp_seconds").size(), 1U);
}

TEST(PrometheusText, LinkWithNothingOnItTurnsEveryTestToZero) {
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, {bareLinkPass()})));
  for (const MetricSample& success : samplesOf(samples, "corvanite_test_success")) {
    EXPECT_EQ(success.value, 0) << success.labels.at("test");
  }
  EXPECT_EQ(valueOf(samples, "corvanite_beacon_members", "test", "asm-beacon"), 0);
  EXPECT_EQ(valueOf(samples, "corvanite_beacon_datagrams", "test", "ssm-beacon"), 0);
  EXPECT_EQ(valueOf(samples, "corvanite_conclusion", "id", "host-asm"), 1);
  EXPECT_EQ(valueOf(samples, "corvanite_conclusion", "id", "router-asm"), 0);
  // A family with nothing to count is left out, HELP and all.
  const std::string text = prometheusText(reportOf(kTiming, {bareLinkPass()}));
  EXPECT_EQ(text.find("corvanite_router_ping_round_trip_seconds"), std::string::npos);
}

TEST(PrometheusText, TheQuerierAndTheDesignatedRouterAreTheLinkFactsOfThePass) {
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, {passIn(ScriptedLab{})})));
  const auto querier = samplesOf(samples, "corvanite_igmp_querier_info");
  ASSERT_EQ(querier.size(), 1U);
  EXPECT_EQ(querier[0].labels.at("address"), "10.0.1.1");
  EXPECT_EQ(querier[0].labels.at("version"), "3");
  EXPECT_EQ(samplesOf(samples, "corvanite_igmp_querier_robustness").at(0).value, 2);
  EXPECT_EQ(samplesOf(samples, "corvanite_igmp_querier_query_interval_seconds").at(0).value, 125);
  // 2 x 125 s + the query response interval.
  EXPECT_GT(samplesOf(samples, "corvanite_igmp_querier_membership_interval_seconds").at(0).value,
            250);
  EXPECT_EQ(samplesOf(samples, "corvanite_pim_neighbours").at(0).value, 1);
  const auto dr = samplesOf(samples, "corvanite_pim_designated_router_info");
  ASSERT_EQ(dr.size(), 1U);
  EXPECT_EQ(dr[0].labels.at("address"), "10.0.1.1");
}

TEST(PrometheusText, ALinkWithoutRoutersHasNoQuerierAndNoNeighboursAndSaysWhy) {
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, {bareLinkPass()})));
  EXPECT_TRUE(samplesOf(samples, "corvanite_igmp_querier_info").empty());
  EXPECT_TRUE(samplesOf(samples, "corvanite_igmp_querier_robustness").empty());
  EXPECT_TRUE(samplesOf(samples, "corvanite_pim_designated_router_info").empty());
  // Test 8 listened and heard nobody: a count of 0, which an alert can see.
  EXPECT_EQ(samplesOf(samples, "corvanite_pim_neighbours").at(0).value, 0);
  const auto noQuerier = samplesOf(samples, "corvanite_diagnosis_finding", "id", "no-querier");
  ASSERT_EQ(noQuerier.size(), 1U);
  EXPECT_EQ(noQuerier[0].labels.at("severity"), "warning");
  EXPECT_EQ(noQuerier[0].value, 1);
}

TEST(PrometheusText, APimTestThatFailedOnASocketGivesNoNeighbourCount) {
  PassFindings findings = bareLinkPass();
  TestRecord& pim = *findings.find(TestId::PimHello);
  pim.outcome = TestOutcome::Error;
  pim.error = TestError{TestError::Kind::RawSocket, std::nullopt, 1};
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, {findings})));
  EXPECT_TRUE(samplesOf(samples, "corvanite_pim_neighbours").empty());
  EXPECT_EQ(valueOf(samples, "corvanite_test_error", "test", "pim-hello"), 1);
}

TEST(PrometheusText, ASocketFailureIsAnErrorAndNoSuccess) {
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, {samplePass()})));
  EXPECT_EQ(valueOf(samples, "corvanite_test_error", "test", "ssm-beacon"), 1);
  EXPECT_EQ(valueOf(samples, "corvanite_test_success", "test", "ssm-beacon"), 0);
  EXPECT_EQ(valueOf(samples, "corvanite_test_error", "test", "igmpv3-query"), 1);
  EXPECT_EQ(valueOf(samples, "corvanite_test_error", "test", "igmpv3-routers-ping"), 0);
  EXPECT_EQ(valueOf(samples, "corvanite_test_success", "test", "igmpv3-routers-ping"), 0);
  // Two members, 20 and 3 datagrams.
  EXPECT_EQ(valueOf(samples, "corvanite_beacon_members", "test", "asm-beacon"), 2);
  EXPECT_EQ(valueOf(samples, "corvanite_beacon_datagrams", "test", "asm-beacon"), 23);
}

// What a flood of senders left out is a series of its own, there only when
// something was: a quiet pass's file is as it always was.
TEST(PrometheusText, DatagramsBeyondTheTablesBoundsAreASeriesOnlyWhenThereWereAny) {
  PassFindings findings = samplePass();
  const std::string quiet = prometheusText(reportOf(kTiming, {findings}));
  EXPECT_EQ(quiet.find("unlisted"), std::string::npos);

  std::get<BeaconDetails>(findings.find(TestId::AsmBeacon)->details).unlistedMemberDatagrams =
      99000;
  std::get<PimDetails>(findings.find(TestId::PimHello)->details).unlistedHellos = 1234;
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, {findings})));
  EXPECT_EQ(valueOf(samples, "corvanite_beacon_unlisted_member_datagrams", "test", "asm-beacon"),
            99000);
  EXPECT_EQ(samplesOf(samples, "corvanite_beacon_unlisted_member_datagrams").size(), 1U);
  EXPECT_EQ(samplesOf(samples, "corvanite_pim_unlisted_hellos").size(), 1U);
}

TEST(PrometheusText, TimesAreSecondsWrittenExactly) {
  const std::string text = prometheusText(reportOf(kTiming, {samplePass()}));
  EXPECT_NE(text.find("\ncorvanite_pass_start_timestamp_seconds{interface=\"eth0\"} "
                      "1796756366.505\n"),
            std::string::npos);
  EXPECT_NE(text.find("\ncorvanite_pass_duration_seconds{interface=\"eth0\"} 22.014\n"),
            std::string::npos);
  // 0.4125 ms, to the microsecond.
  EXPECT_NE(text.find("group=\"224.0.0.2\",router=\"10.0.1.1\"} 0.000413\n"), std::string::npos);
  EXPECT_NE(text.find("\ncorvanite_build_info{interface=\"eth0\",version=\"" CORVANITE_TEST_VERSION
                      "\"} 1\n"),
            std::string::npos);
  EXPECT_NE(text.find("corvanite_pass_interface_info{interface=\"eth0\",family=\"ipv4\","
                      "address=\"10.0.1.2\",chosen_by=\"host-name\"} 1\n"),
            std::string::npos);
}

TEST(PrometheusText, EachFamilyStopsAt256SeriesWhateverAFloodOfSendersBrings) {
  PassFindings findings = samplePass();
  for (TestId id : {TestId::AllRoutersPing, TestId::SsmRoutersPing, TestId::PimRoutersPing}) {
    auto& replies = std::get<PingDetails>(findings.find(id)->details).replies;
    replies.clear();
    for (std::uint32_t i = 0; i < 256; ++i) {
      replies.push_back(
          {*net::Address::fromBytes(std::array<std::uint8_t, 4>{
               10, 9, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)}),
           0.5});
    }
  }
  const auto samples = readMetricsText(prometheusText(reportOf(kTiming, {findings})));
  EXPECT_EQ(samplesOf(samples, "corvanite_router_ping_round_trip_seconds").size(),
            kMaxSeriesPerFamily);
  EXPECT_EQ(samplesOf(samples, "corvanite_test_success").size(), 8U);
}

TEST(PrometheusText, TheFullLabsFileStaysUnder16KiB) {
  EXPECT_LT(prometheusText(reportOf(kTiming, {passIn(ScriptedLab{})})).size(), 16U * 1024U);
}

TEST(PrometheusText, LabelValuesAreEscapedSoNoNameCanBreakALine) {
  PassFindings findings = bareLinkPass();
  const std::string odd = "e\"th\\0\nx";
  findings.chosenInterface.name = odd;
  const std::string text = prometheusText(reportOf(kTiming, {findings}));
  EXPECT_NE(text.find("interface=\"e\\\"th\\\\0\\nx\""), std::string::npos);
  for (const MetricSample& sample : readMetricsText(text)) {
    EXPECT_EQ(sample.labels.at("interface"), odd);
  }
}

TEST(PrometheusText, BytesThatAreNotUtf8BecomeReplacementCharactersAndUtf8StaysAsItIs) {
  PassFindings findings = bareLinkPass();
  // A Latin-1 byte, a cut 3-byte sequence, an overlong '/', a surrogate; then "é" and "€".
  findings.chosenInterface.name = std::string(
                                      "a\xE9"
                                      "b\xE2\x82") +
                                  "\xC0\xAF" + "\xED\xA0\x80" + "\xC3\xA9\xE2\x82\xAC";
  const std::string text = prometheusText(reportOf(kTiming, {findings}));
  const std::string replacement = "\xEF\xBF\xBD";
  const std::string expected = "a" + replacement + "b" + replacement + replacement + replacement +
                               replacement + replacement + replacement + replacement +
                               "\xC3\xA9\xE2\x82\xAC";
  EXPECT_NE(text.find("interface=\"" + expected + "\""), std::string::npos) << text.substr(0, 300);
}

// A folder of its own under the system's temporary folder, removed after.
class MetricsFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ =
        std::filesystem::temp_directory_path() /
        (std::string("corvanite-metrics-") + info->name() + "-" + std::to_string(net::processId()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  [[nodiscard]] std::string path(const char* name) const { return (folder_ / name).string(); }
  [[nodiscard]] std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      found.push_back(entry.path().filename().string());
    }
    return found;
  }
  static std::string read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path folder_;
};

using PrometheusOutputFile = MetricsFolder;

TEST_F(PrometheusOutputFile, EachPassReplacesTheFileWholeAndLeavesNothingElse) {
  std::ostringstream errors;
  PrometheusOutput metrics(path("corvanite-eth0.prom"), errors);
  ScriptedNetwork full;
  ScriptedLab{}.install(full);
  PassFindings findings;
  runPassInto(full, labSetup(), metrics, findings);
  auto samples = readMetricsText(read(path("corvanite-eth0.prom")));
  EXPECT_EQ(valueOf(samples, "corvanite_test_success", "test", "pim-hello"), 1);

  ScriptedNetwork bare;
  runPassInto(bare, labSetup(), metrics, findings);
  samples = readMetricsText(read(path("corvanite-eth0.prom")));
  EXPECT_EQ(valueOf(samples, "corvanite_test_success", "test", "pim-hello"), 0);
  EXPECT_EQ(names(), std::vector<std::string>{"corvanite-eth0.prom"});
  EXPECT_EQ(errors.str(), "");
  EXPECT_FALSE(metrics.writeFailed());
}

TEST_F(PrometheusOutputFile, AFolderThatCannotBeWrittenIsToldInOneLineAndTheTextStillGoesOut) {
  const std::string file = path("missing/corvanite-eth0.prom");
  std::ostringstream errors;
  PrometheusOutput metrics(file, errors);
  std::ostringstream out;
  const int status = runScripted(
      out,
      [](PassObserver& observer, PassReport& report) {
        ScriptedNetwork full;
        ScriptedLab{}.install(full);
        runPass(full, labSetup(), observer, report);
      },
      ScriptedRun{}, &metrics);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.str().find("=> SSM is functioning for Beacon Group."), std::string::npos);
  EXPECT_TRUE(metrics.writeFailed());
  const std::string told = errors.str();
  EXPECT_EQ(told.rfind("corvanite: cannot write the metrics to " + file +
                           ": creating a temporary file in the folder: ",
                       0),
            0U)
      << told;
  EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1);
  EXPECT_FALSE(std::filesystem::exists(file));
}

// Keeps what it was told, and stops wanting output after `wantedTests` tests.
class Recorder final : public PassObserver {
 public:
  explicit Recorder(int wantedTests = 99) : left_(wantedTests) {}
  void passBegins(const PassFindings& /*findings*/) override { calls += "begin "; }
  void testBegins(const TestRecord& record) override { calls += std::to_string(record.number); }
  void verdictReached(const TestRecord& /*record*/) override { calls += "v"; }
  void testEnds(const TestRecord& /*record*/) override {
    calls += ". ";
    --left_;
  }
  void passEnds(const PassReport& /*report*/) override { calls += "end"; }
  [[nodiscard]] bool stillWanted() const override { return left_ > 0; }

  std::string calls;

 private:
  int left_;
};

TEST(PassFanOut, EveryOutputHearsTheWholePassInTheSameOrder) {
  Recorder reader;
  Recorder follower;
  PassFanOut both(reader, {&follower});
  ScriptedNetwork full;
  ScriptedLab{}.install(full);
  PassFindings findings;
  runPassInto(full, labSetup(), both, findings);
  EXPECT_EQ(follower.calls, reader.calls);
  EXPECT_EQ(reader.calls.rfind("begin 1", 0), 0U);
  EXPECT_EQ(reader.calls.substr(reader.calls.size() - 3), "end");
}

TEST(PassFanOut, OnlyTheReaderDecidesWhetherThePassGoesOn) {
  Recorder reader(3);
  Recorder follower;
  PassFanOut both(reader, {&follower});
  ScriptedNetwork full;
  ScriptedLab{}.install(full);
  PassFindings findings;
  runPassInto(full, labSetup(), both, findings);
  EXPECT_TRUE(findings.tests[2].ran);
  EXPECT_FALSE(findings.tests[3].ran);
  // A cut pass writes no metrics: they would claim tests failed that never ran.
  EXPECT_EQ(follower.calls.find("end"), std::string::npos);

  Recorder wantsAll;
  Recorder leavesAtOnce(0);
  PassFanOut followerCannotStop(wantsAll, {&leavesAtOnce});
  ScriptedNetwork bare;
  runPassInto(bare, labSetup(), followerCannotStop, findings);
  EXPECT_TRUE(findings.tests[7].ran);
}

}  // namespace
