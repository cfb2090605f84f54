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
    findings.flags = RunFlags{true, true, true, true, true, true, true, true, true, true};
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

}  // namespace
