#include <array>

#include "app/battery.h"
#include "app/report.h"
#include "net/platform.h"

namespace {

// Each test and the finding that says it succeeded.
struct BatteryEntry {
  void (*run)(std::ostream&, const PassSetup&, PassFindings&);
  bool PassFlags::*succeeded;
};

constexpr std::array<BatteryEntry, kTestsPerPass> kBattery{{
    {runAsmBeaconTest, &PassFlags::asmBeaconHeard},
    {runSsmBeaconTest, &PassFlags::ssmBeaconHeard},
    {runAllRoutersPingTest, &PassFlags::allRoutersAnswered},
    {runSsmRoutersPingTest, &PassFlags::ssmRoutersAnswered},
    {runIgmpV2Test, &PassFlags::igmpV2QuerySeen},
    {runIgmpV3Test, &PassFlags::igmpV3QuerySeen},
    {runPimRoutersPingTest, &PassFlags::pimRoutersAnswered},
    {runPimTest, &PassFlags::pimHelloAnswered},
}};

}  // namespace

void runPass(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  out << "Running 8 Tests : \n";
  for (std::size_t i = 0; i < kBattery.size(); ++i) {
    // Nobody can read what a pass finds once its output is gone.
    if (!out) return;
    TestRecord& record = findings.tests[i];
    record.number = static_cast<int>(i + 1);
    const std::uint32_t start = net::tickCountMs();
    kBattery[i].run(out, setup, findings);
    record.durationMs = net::tickCountMs() - start;
    if (record.error) {
      record.outcome = TestOutcome::Error;
    } else {
      record.outcome =
          findings.flags.*kBattery[i].succeeded ? TestOutcome::Succeeded : TestOutcome::Failed;
    }
  }
  printReport(out, findings);
}
