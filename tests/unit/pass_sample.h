// A pass with something in every field, for the JSON tests.
#pragma once

#include "app/pass_findings.h"

namespace testing_support {

inline PassFindings samplePass() {
  PassFindings pass;
  pass.flags = PassFlags{true, true, true, true, true, true, true, false, true, false};
  pass.pimResponderText = "10.0.1.1, ";
  pass.chosenInterface = InterfaceSummary{"eth0", "10.0.1.2", "host-name"};
  for (std::size_t i = 0; i < pass.tests.size(); ++i) {
    pass.tests[i].number = static_cast<int>(i + 1);
    pass.tests[i].header = std::to_string(i + 1) + ".  header ";
    pass.tests[i].outcome = TestOutcome::Succeeded;
    pass.tests[i].durationMs = 2000;
  }
  pass.tests[0].details = BeaconDetails{
      "233.4.200.19", 10002, std::nullopt, {{"198.51.100.20", 20}, {"198.51.100.21", 3}}};
  pass.tests[1].details = BeaconDetails{"232.64.133.120", 8020, "198.51.100.20", {}};
  pass.tests[1].outcome = TestOutcome::Error;
  pass.tests[1].error = TestError{"SetOption", 105};
  pass.tests[2].details = PingDetails{"224.0.0.2", {{"10.0.1.1", 0.4125}}};
  pass.tests[3].details = PingDetails{"224.0.0.22", {}};
  pass.tests[3].outcome = TestOutcome::Failed;
  pass.tests[4].details =
      IgmpDetails{{{"10.0.1.1", "233.4.200.19", 3, "233.4.200.19", 1000, 2004.5}}};
  pass.tests[5].details = IgmpDetails{};
  pass.tests[5].outcome = TestOutcome::Error;
  pass.tests[5].error = TestError{std::nullopt, 1};
  pass.tests[6].details = PingDetails{"224.0.0.13", {{"10.0.1.1", 1.0}}};
  pass.tests[7].details = PimDetails{
      {{"10.0.1.1", 105, 1, 0xDEADBEEF}, {"10.0.1.9", std::nullopt, std::nullopt, std::nullopt}},
      {"10.255.0.1"}};
  return pass;
}

}  // namespace testing_support
