// Writes the metrics of sample passes into a folder, one file each, for
// promtool to check: the scripted lab's variants, a pass with socket
// failures, a flood of senders and an interface name that needs escaping.
#include <fstream>
#include <iostream>
#include <string>

#include "app/prometheus_output.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace {

using namespace testing_support;

PassFindings passIn(const ScriptedLab& lab) {
  ScriptedNetwork network;
  lab.install(network);
  PassObserver quiet;
  PassFindings findings;
  runPassInto(network, labSetup(), quiet, findings);
  findings.chosenInterface = InterfaceSummary{"eth0", "10.0.1.2", "host-name"};
  return findings;
}

PassFindings floodOfSenders() {
  PassFindings findings = samplePass();
  auto& replies = std::get<PingDetails>(findings.find(TestId::AllRoutersPing)->details).replies;
  for (int i = 0; i < 300; ++i) {
    replies.push_back(
        {ipv4(("10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1)).c_str()),
         0.25});
  }
  findings.chosenInterface.name = "odd\"name\\";
  return findings;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::cerr << "usage: corvanite_prometheus_sample FOLDER\n";
    return 2;
  }
  const std::string folder = argv[1];
  const PassTiming timing{std::chrono::system_clock::now(), 22014};
  const std::pair<const char*, PassFindings> passes[] = {
      {"full", passIn(ScriptedLab{})},
      {"bare", passIn(ScriptedLab{false, false, false, false})},
      {"no-beacons", passIn(ScriptedLab{false, true, true, true})},
      {"ignore-pings", passIn(ScriptedLab{true, false, true, true})},
      {"no-igmp", passIn(ScriptedLab{true, true, false, true})},
      {"no-pim", passIn(ScriptedLab{true, true, true, false})},
      {"sample", samplePass()},
      {"nothing-found", passThatFoundNothing()},
      {"flood", floodOfSenders()},
  };
  for (const auto& [name, findings] : passes) {
    std::ofstream out(folder + "/" + name + ".prom", std::ios::binary);
    out << prometheusText(reportOf(timing, {findings}));
    if (!out) {
      std::cerr << "cannot write " << folder << "/" << name << ".prom\n";
      return 1;
    }
  }
  return 0;
}
