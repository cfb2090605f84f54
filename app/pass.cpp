#include <array>

#include "app/battery.h"
#include "app/report.h"

void runPass(std::ostream& out, PassFindings& findings) {
  using Test = void (*)(std::ostream&, PassFindings&);
  static constexpr std::array<Test, 8> kBattery{
      [](std::ostream& o, PassFindings& f) { runAsmBeaconTest(o, f.flags); },
      [](std::ostream& o, PassFindings& f) { runSsmBeaconTest(o, f.flags); },
      [](std::ostream& o, PassFindings& f) { runAllRoutersPingTest(o, f.flags); },
      [](std::ostream& o, PassFindings& f) { runSsmRoutersPingTest(o, f.flags); },
      [](std::ostream& o, PassFindings& f) { runIgmpV2Test(o, f.flags); },
      [](std::ostream& o, PassFindings& f) { runIgmpV3Test(o, f.flags); },
      [](std::ostream& o, PassFindings& f) { runPimRoutersPingTest(o, f.flags); },
      runPimTest,
  };
  out << "Running 8 Tests : \n";
  for (const Test test : kBattery) {
    // Nobody can read what a pass finds once its output is gone.
    if (!out) return;
    test(out, findings);
  }
  printReport(out, findings);
}
