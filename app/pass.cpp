#include <array>

#include "app/battery.h"
#include "app/report.h"

void runPass(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  using Test = void (*)(std::ostream&, const PassSetup&, PassFindings&);
  static constexpr std::array<Test, 8> kBattery{
      [](std::ostream& o, const PassSetup& s, PassFindings& f) { runAsmBeaconTest(o, s, f.flags); },
      [](std::ostream& o, const PassSetup& s, PassFindings& f) { runSsmBeaconTest(o, s, f.flags); },
      [](std::ostream& o, const PassSetup& s, PassFindings& f) {
        runAllRoutersPingTest(o, s, f.flags);
      },
      [](std::ostream& o, const PassSetup& s, PassFindings& f) {
        runSsmRoutersPingTest(o, s, f.flags);
      },
      [](std::ostream& o, const PassSetup& s, PassFindings& f) { runIgmpV2Test(o, s, f.flags); },
      [](std::ostream& o, const PassSetup& s, PassFindings& f) { runIgmpV3Test(o, s, f.flags); },
      [](std::ostream& o, const PassSetup& s, PassFindings& f) {
        runPimRoutersPingTest(o, s, f.flags);
      },
      runPimTest,
  };
  out << "Running 8 Tests : \n";
  for (const Test test : kBattery) {
    // Nobody can read what a pass finds once its output is gone.
    if (!out) return;
    test(out, setup, findings);
  }
  printReport(out, findings);
}
