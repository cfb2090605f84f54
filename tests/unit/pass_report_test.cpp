// The pass report is worked out once: every output renders the same value,
// and a pass of two families is one report with one clock.
#include "app/pass_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/battery.h"
#include "app/pass_json.h"
#include "app/prometheus_output.h"
#include "app/run.h"
#include "app/text_output.h"
#include "net/platform.h"
#include "tests/unit/metrics_text.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace {

using namespace testing_support;

// A finding no rule makes of these records, at a severity its rule never
// gives: an output that shows it rendered the report it was given instead of
// diagnosing the records again.
Finding plantedFinding() {
  Finding planted{FindingId::LeaveWithheld, Severity::Warning, {}, "RFC 0"};
  planted.evidence.add("group", *net::Address::parseV4("239.1.2.3"))
      .add("interface", "planted0")
      .add("source_specific", false, Shown::SentenceOnly)
      .add("family", "ipv4");
  return planted;
}

TEST(PassReport, OutputsRenderTheReportTheyAreGivenAndWorkOutNothing) {
  BatteryReport battery = reportBattery(passThatFoundNothing());
  // The records hold host-asm; the report is told otherwise, and holds a row
  // the records do not support.
  ASSERT_FALSE(battery.conclusions.empty());
  ASSERT_EQ(conclusions()[2].id, "router-asm");
  battery.conclusions = {HeldConclusion{&conclusions()[2], "=> planted line"}};
  ASSERT_FALSE(battery.diagnosis.empty()) << "the records find no querier";
  battery.diagnosis = {plantedFinding()};

  std::ostringstream text;
  printReport(text, battery);
  printDiagnosis(text, battery);
  EXPECT_NE(text.str().find("=> planted line\n"), std::string::npos) << text.str();
  EXPECT_EQ(text.str().find("=> Host Operating System"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("  [warning] The host already holds 239.1.2.3 on planted0"),
            std::string::npos);
  EXPECT_EQ(text.str().find("querier"), std::string::npos) << text.str();

  const auto json = nlohmann::json::parse(passJson(PassTiming{}, battery));
  EXPECT_EQ(json["verdicts"]["report"], nlohmann::json::array({"=> planted line"}));
  ASSERT_EQ(json["diagnosis"].size(), 1U);
  EXPECT_EQ(json["diagnosis"][0]["id"], "leave-withheld");
  EXPECT_EQ(json["diagnosis"][0]["evidence"]["group"], "239.1.2.3");

  PassReport report;
  report.batteries.push_back(battery);
  const auto samples = readMetricsText(prometheusText(report));
  EXPECT_EQ(samplesOf(samples, "corvanite_diagnosis_finding", "id", "leave-withheld").size(), 1U);
  EXPECT_EQ(samplesOf(samples, "corvanite_conclusion", "id", "router-asm")[0].value, 1);
  EXPECT_EQ(samplesOf(samples, "corvanite_conclusion", "id", "host-asm")[0].value, 0);
}

TEST(PassReport, SuccessIsEveryTestOfEveryBattery) {
  PassFindings all = passThatFoundNothing();
  for (TestRecord& record : all.tests) record.outcome = TestOutcome::Succeeded;
  PassFindings lastFailed = all;
  lastFailed.tests.back().outcome = TestOutcome::Error;

  EXPECT_FALSE(PassReport{}.succeeded()) << "a pass that ran no battery";
  EXPECT_TRUE(reportOf({}, {all, all}).succeeded());
  EXPECT_FALSE(reportOf({}, {all, lastFailed}).succeeded());
  EXPECT_FALSE(reportOf({}, {all, PassFindings{}}).succeeded()) << "a battery of no test";
}

// Follows a pass as the metrics do, keeping what it was told.
class Follower final : public PassObserver {
 public:
  void passEnds(const PassReport& report) override {
    batteriesAtEachEnd.push_back(report.batteries.size());
  }
  void passComplete(const PassReport& report) override { complete.push_back(report); }

  std::vector<std::size_t> batteriesAtEachEnd;
  std::vector<PassReport> complete;
};

// -4 -6 as the tool runs it: both batteries on one bare link.
void bothFamilies(PassObserver& observer, PassReport& report) {
  ScriptedNetwork bare;
  PassSetup setup6 = labSetup();
  setup6.family = net::Family::V6;
  setup6.link.chosen = net::LinkInterface{
      "eth0", kLabInterfaceIndex, *net::Address::parseV6("fe80::2"), net::ChosenBy::Option, 64};
  setup6.asmGroup = options::AsmGroup{*net::Address::parseV6("ff3e:20:2001:db8::19"), 10002};
  setup6.ssmChannel = options::SsmChannel{*net::Address::parseV6("2001:db8::20"),
                                          *net::Address::parseV6("ff3e::120"), 8020};
  runPass(bare, labSetup(), observer, report);
  runPass(bare, setup6, observer, report);
}

TEST(PassReport, ATwoFamilyPassIsOneReportCompleteOnceWithOneClock) {
  Follower follower;
  std::ostringstream out;
  EXPECT_EQ(runScripted(out, bothFamilies, ScriptedRun{true, {}}, &follower), 1);
  EXPECT_EQ(follower.batteriesAtEachEnd, (std::vector<std::size_t>{1, 2}));
  ASSERT_EQ(follower.complete.size(), 1U);
  const PassReport& report = follower.complete[0];
  ASSERT_EQ(report.batteries.size(), 2U);
  EXPECT_EQ(report.batteries[0].findings.family, net::Family::V4);
  EXPECT_EQ(report.batteries[1].findings.family, net::Family::V6);

  // Both JSON lines name the pass's one start; the metrics the same.
  std::istringstream lines(out.str());
  std::vector<nlohmann::json> passes;
  for (std::string line; std::getline(lines, line);) passes.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(passes.size(), 2U);
  EXPECT_EQ(passes[0]["start_time"], rfc3339Utc(report.timing.start));
  EXPECT_EQ(passes[1]["start_time"], passes[0]["start_time"]);
  EXPECT_LE(passes[0]["duration_ms"].get<std::uint32_t>(),
            passes[1]["duration_ms"].get<std::uint32_t>());
  EXPECT_EQ(passes[1]["duration_ms"].get<std::uint32_t>(), report.timing.durationMs);
  const auto samples = readMetricsText(prometheusText(report));
  const auto start = samplesOf(samples, "corvanite_pass_start_timestamp_seconds");
  ASSERT_EQ(start.size(), 1U);
  const auto sinceEpoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(report.timing.start.time_since_epoch());
  EXPECT_EQ(start[0].value, static_cast<double>(sinceEpoch.count()) / 1000.0);
}

TEST(PassReport, AMetricsFileOfATwoFamilyPassIsWrittenOnceWithBothFamilies) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("corvanite-report-" + std::to_string(net::processId()) + ".prom");
  std::ostringstream errors;
  PrometheusOutput metrics(file.string(), errors);
  std::ostringstream out;
  runScripted(out, bothFamilies, ScriptedRun{}, &metrics);
  std::string text;
  {
    // Closed before the removal: Windows removes no file that is still open.
    std::ifstream written(file);
    text.assign(std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>());
  }
  std::filesystem::remove(file);
  EXPECT_EQ(errors.str(), "");
  const auto success = samplesOf(readMetricsText(text), "corvanite_test_success");
  EXPECT_EQ(success.size(), 16U);
  EXPECT_EQ(samplesOf(readMetricsText(text), "corvanite_test_success", "family", "ipv6").size(),
            8U);
}

}  // namespace
