#include "app/battery.h"
#include "app/report.h"

void runPass(std::ostream& out, PassFindings& findings) {
  out << "Running 8 Tests : \n";
  runAsmBeaconTest(out, findings.flags);
  runSsmBeaconTest(out, findings.flags);
  runAllRoutersPingTest(out, findings.flags);
  runSsmRoutersPingTest(out, findings.flags);
  runIgmpV2Test(out, findings.flags);
  runIgmpV3Test(out, findings.flags);
  runPimRoutersPingTest(out, findings.flags);
  runPimTest(out, findings);
  printReport(out, findings);
}
