// Prints sample passes as the tool would, for the schema check.
#include <iostream>

#include "app/battery.h"
#include "app/pass_json.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab6.h"

namespace {

// An IPv6 pass as the battery fills its records, in the scripted IPv6 lab or
// on a link with nothing on it.
PassFindings ipv6Pass(bool lab) {
  testing_support::ScriptedNetwork network;
  if (lab) testing_support::ScriptedLab6{}.install(network);
  PassObserver quiet;
  PassFindings findings;
  testing_support::runPassInto(network, testing_support::labSetup6(), quiet, findings);
  findings.chosenInterface = InterfaceSummary{"eth0", "fe80::2", "host-name"};
  return findings;
}

}  // namespace

int main() {
  const PassTiming timing{std::chrono::system_clock::now(), 1234};
  std::cout << passJson(timing, reportBattery(testing_support::samplePass())) << '\n';
  // A pass that heard nothing, on a link that could not be found, still has a shape.
  std::cout << passJson(timing, reportBattery(testing_support::passThatFoundNothing())) << '\n';
  std::cout << passJson(timing, reportBattery(ipv6Pass(true))) << '\n';
  std::cout << passJson(timing, reportBattery(ipv6Pass(false))) << '\n';
  return 0;
}
