#include "app/run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kBanner =
    "*****************************************\n"
    "*     Multicast Corvanite Beta          *\n"
    "*****************************************\n"
    "\n\n";
const std::string kPrompt = "\n +> To exit enter 'q' , to re run the test enter 'y' \n";

// Stands in for the battery: marks each pass in the output and remembers the
// findings it was handed.
struct RecordingPass {
  std::vector<PassFindings> seen;
  void operator()(std::ostream& out, PassFindings& findings) {
    seen.push_back(findings);
    out << "<pass>";
    findings.flags = PassFlags{true, true, true, true, true, true, true, true, true, true};
    findings.pimResponderText = "10.0.0.1, ";
  }
};

std::string runWith(const std::string& input, RecordingPass& pass, int* status = nullptr) {
  std::istringstream in(input);
  std::ostringstream out;
  const int result = runDiagnostics(in, out, [&](std::ostream& o, PassFindings& f) { pass(o, f); });
  if (status != nullptr) *status = result;
  return out.str();
}

TEST(Run, BannerOnceThenPassesUntilQuit) {
  RecordingPass pass;
  int status = -1;
  EXPECT_EQ(runWith("y\nx\nq\n", pass, &status),
            kBanner + "<pass>" + kPrompt + "<pass>" + kPrompt + kPrompt);
  EXPECT_EQ(status, 0);
}

TEST(Run, EveryPassStartsFromNothingFound) {
  RecordingPass pass;
  runWith("y y q", pass);
  ASSERT_EQ(pass.seen.size(), 3U);
  for (const PassFindings& findings : pass.seen) {
    EXPECT_FALSE(findings.flags.hostAsmCapable);
    EXPECT_FALSE(findings.flags.pimHelloAnswered);
    EXPECT_FALSE(findings.flags.igmpV3QuerySeen);
    EXPECT_TRUE(findings.pimResponderText.empty());
  }
}

TEST(Run, EndOfInputAtThePromptEndsTheRun) {
  RecordingPass pass;
  int status = -1;
  EXPECT_EQ(runWith("", pass, &status), kBanner + "<pass>" + kPrompt);
  EXPECT_EQ(status, 0);
}

// Stands in for the battery in a scripted run: every test ends as told.
PassRunner passEnding(TestOutcome outcome, int* passes) {
  return [outcome, passes](std::ostream& out, PassFindings& findings) {
    ++*passes;
    out << "<pass>";
    for (std::size_t i = 0; i < findings.tests.size(); ++i) {
      findings.tests[i].number = static_cast<int>(i + 1);
      findings.tests[i].outcome = i == 5 ? outcome : TestOutcome::Succeeded;
    }
  };
}

TEST(Run, OncePrintsThePassWithoutPromptAndTellsTheVerdict) {
  for (const auto& [outcome, status] :
       {std::pair{TestOutcome::Succeeded, 0}, std::pair{TestOutcome::Failed, 1},
        std::pair{TestOutcome::Error, 1}}) {
    std::ostringstream out;
    int passes = 0;
    EXPECT_EQ(runScripted(out, passEnding(outcome, &passes), ScriptedRun{}), status);
    EXPECT_EQ(out.str(), kBanner + "<pass>");
    EXPECT_EQ(passes, 1);
  }
}

TEST(Run, JsonPrintsOneLineInsteadOfTheText) {
  std::ostringstream out;
  int passes = 0;
  EXPECT_EQ(runScripted(out, passEnding(TestOutcome::Succeeded, &passes), ScriptedRun{true, {}}),
            0);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("{\"tool\":{\"name\":\"corvanite\"", 0), 0U);
  EXPECT_EQ(text.find("<pass>"), std::string::npos);
  EXPECT_EQ(text.find('\n'), text.size() - 1);
}

TEST(Run, RepeatedPassesStopOnceNobodyReads) {
  std::ostringstream out;
  int passes = 0;
  const PassRunner pass = [&](std::ostream& o, PassFindings& f) {
    passEnding(TestOutcome::Succeeded, &passes)(o, f);
    o.setstate(std::ios::badbit);
  };
  EXPECT_EQ(runScripted(out, pass, ScriptedRun{false, 35}), 0);
  EXPECT_EQ(passes, 1);
  // The pass is headed by the time it began.
  const std::string text = out.str();
  ASSERT_GT(text.size(), kBanner.size() + 25);
  EXPECT_EQ(text.substr(kBanner.size() + 4, 1), "-");
  EXPECT_EQ(text.substr(kBanner.size() + 23, 2), "Z\n");
}

}  // namespace
