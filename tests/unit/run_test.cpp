#include "app/run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/battery.h"
#include "net/socket_exceptions.h"
#include "tests/unit/pass_sample.h"

namespace {

const std::string kBanner =
    "*****************************************\n"
    "*     Multicast Corvanite Beta          *\n"
    "*****************************************\n"
    "\n\n";
const std::string kPrompt = "\n +> To exit enter 'q' , to re run the test enter 'y' \n";
// What the text prints of a pass in which every test ran and found nothing.
const std::string kPassText =
    "Running 8 Tests : \n"
    "\n\n"
    "*****************************************\n"
    "*     Multicast Corvanite Report        *\n"
    "*****************************************\n"
    "=> Host Operating System is capable of Any Source Multicast (IGMP v2) \n"
    "=> Host Operating System is capable of Source Specific Multicast (IGMP v3) \n";

// Stands in for the battery: remembers the findings it was handed, fills
// them as a pass would and tells the output where the pass begins and ends.
struct RecordingPass {
  std::vector<PassFindings> seen;
  void operator()(PassObserver& observer, PassReport& report) {
    seen.push_back(report.batteries.empty() ? PassFindings{} : report.batteries.front().findings);
    PassFindings findings = testing_support::passThatFoundNothing();
    findings.chosenInterface.name = "eth0";
    observer.passBegins(findings);
    report.batteryEnded(findings);
    observer.passEnds(report);
  }
};

std::string runWith(const std::string& input, RecordingPass& pass, int* status = nullptr) {
  std::istringstream in(input);
  std::ostringstream out;
  const int result = runDiagnostics(in, out, [&](PassObserver& o, PassReport& r) { pass(o, r); });
  if (status != nullptr) *status = result;
  return out.str();
}

TEST(Run, BannerOnceThenPassesUntilQuit) {
  RecordingPass pass;
  int status = -1;
  EXPECT_EQ(runWith("y\nx\nq\n", pass, &status),
            kBanner + kPassText + kPrompt + kPassText + kPrompt + kPrompt);
  EXPECT_EQ(status, 0);
}

TEST(Run, EveryPassStartsFromNothingFound) {
  RecordingPass pass;
  runWith("y y q", pass);
  ASSERT_EQ(pass.seen.size(), 3U);
  for (const PassFindings& findings : pass.seen) {
    EXPECT_TRUE(findings.tests.empty());
    EXPECT_FALSE(findings.chosenInterface.name.has_value());
  }
}

TEST(Run, EndOfInputAtThePromptEndsTheRun) {
  RecordingPass pass;
  int status = -1;
  EXPECT_EQ(runWith("", pass, &status), kBanner + kPassText + kPrompt);
  EXPECT_EQ(status, 0);
}

TEST(Run, ASocketFailureOutsideAnyTestEndsTheRunWithItsDescription) {
  std::istringstream in("y\n");
  std::ostringstream out;
  int passes = 0;
  const PassRunner failing = [&passes](PassObserver&, PassReport&) {
    ++passes;
    throw net::CV_SocketException(19, "getaddrinfo");
  };
  EXPECT_EQ(runDiagnostics(in, out, failing), 0);
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(out.str(), kBanner +
                           "Caught Exception:Exception while running test : getaddrinfofailed "
                           "with error code : 19\n\n");
  std::ostringstream scripted;
  EXPECT_EQ(runScripted(scripted, failing, ScriptedRun{}), 1);
}

// Stands in for the battery in a scripted run: every test ends as told.
PassRunner passEnding(TestOutcome outcome, int* passes) {
  return [outcome, passes](PassObserver& observer, PassReport& report) {
    ++*passes;
    PassFindings findings = testing_support::passThatFoundNothing();
    observer.passBegins(findings);
    for (TestRecord& record : findings.tests) {
      record.outcome = record.id == TestId::SourceMembership ? outcome : TestOutcome::Succeeded;
      if (record.outcome == TestOutcome::Error) {
        record.error = TestError{TestError::Kind::SocketCall, "sendTo", 1};
      }
    }
    report.batteryEnded(findings);
    observer.passEnds(report);
  };
}

TEST(Run, OncePrintsThePassWithoutPromptAndTellsTheVerdict) {
  for (const auto& [outcome, status] :
       {std::pair{TestOutcome::Succeeded, 0}, std::pair{TestOutcome::Failed, 1},
        std::pair{TestOutcome::Error, 1}}) {
    std::ostringstream out;
    int passes = 0;
    EXPECT_EQ(runScripted(out, passEnding(outcome, &passes), ScriptedRun{}), status);
    EXPECT_EQ(out.str(), kBanner + kPassText);
    EXPECT_EQ(passes, 1);
  }
}

TEST(Run, APassThatRanNoTestIsNoSuccess) {
  std::ostringstream out;
  const PassRunner nothing = [](PassObserver&, PassReport&) {};
  EXPECT_EQ(runScripted(out, nothing, ScriptedRun{}), 1);
  EXPECT_EQ(runScripted(out, nothing, ScriptedRun{true, {}}), 1);
}

TEST(Run, BothFamiliesMustSucceedForStatusZero) {
  // -4 -6: an IPv4 pass where all succeeded, then an IPv6 one where test `failing`
  // ended as told.
  const auto bothFamilies = [](std::optional<TestId> failing) -> PassRunner {
    return [failing](PassObserver& observer, PassReport& report) {
      for (const net::Family family : {net::Family::V4, net::Family::V6}) {
        PassFindings findings = freshFindings(family);
        observer.passBegins(findings);
        for (TestRecord& record : findings.tests) {
          record.ran = true;
          const bool fails = family == net::Family::V6 && failing && record.id == *failing;
          record.outcome = fails ? TestOutcome::Failed : TestOutcome::Succeeded;
        }
        report.batteryEnded(findings);
        observer.passEnds(report);
      }
    };
  };
  for (const bool json : {false, true}) {
    std::ostringstream out;
    EXPECT_EQ(runScripted(out, bothFamilies(std::nullopt), ScriptedRun{json, {}}), 0) << json;
    EXPECT_EQ(runScripted(out, bothFamilies(TestId::SourceMembership), ScriptedRun{json, {}}), 1)
        << json;
    EXPECT_EQ(runScripted(out, bothFamilies(TestId::PimHello), ScriptedRun{json, {}}), 1)
        << "the last test of the last family counts too";
  }
}

TEST(Run, JsonPrintsOneLineInsteadOfTheText) {
  std::ostringstream out;
  int passes = 0;
  EXPECT_EQ(runScripted(out, passEnding(TestOutcome::Succeeded, &passes), ScriptedRun{true, {}}),
            0);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("{\"tool\":{\"name\":\"corvanite\"", 0), 0U);
  EXPECT_EQ(text.find("Running 8 Tests"), std::string::npos);
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  EXPECT_EQ(passes, 1);
}

TEST(Run, RepeatedJsonPassesGiveOneLineEach) {
  std::ostringstream out;
  int passes = 0;
  const PassRunner pass = [&](PassObserver& o, PassReport& r) {
    passEnding(TestOutcome::Failed, &passes)(o, r);
    if (passes == 3) out.setstate(std::ios::badbit);
  };
  // No wait between the passes.
  EXPECT_EQ(runScripted(out, pass, ScriptedRun{true, 0}), 1);
  EXPECT_EQ(passes, 3);
  std::istringstream lines(out.str());
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_EQ(line.rfind("{\"tool\":", 0), 0U) << line;
    EXPECT_EQ(line.back(), '}');
  }
  EXPECT_EQ(count, 3);
}

TEST(Run, RepeatedPassesStopOnceNobodyReads) {
  std::ostringstream out;
  int passes = 0;
  const PassRunner pass = [&](PassObserver& o, PassReport& r) {
    passEnding(TestOutcome::Succeeded, &passes)(o, r);
    out.setstate(std::ios::badbit);
  };
  EXPECT_EQ(runScripted(out, pass, ScriptedRun{false, 35}), 0);
  EXPECT_EQ(passes, 1);
  // The pass is headed by the time it began.
  const std::string text = out.str();
  ASSERT_GT(text.size(), kBanner.size() + 25);
  EXPECT_EQ(text.substr(kBanner.size() + 4, 1), "-");
  EXPECT_EQ(text.substr(kBanner.size() + 23, 2), "Z\n");
  EXPECT_EQ(text.substr(kBanner.size() + 25), kPassText);
}

}  // namespace
