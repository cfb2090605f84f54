// The eight tests of the battery. Each prints its own lines, records its
// verdict and details in the pass's findings and catches its own socket
// failures.
#pragma once

#include <ostream>

#include "app/pass_findings.h"
#include "app/pass_setup.h"

void runAsmBeaconTest(std::ostream& out, const PassSetup& setup, PassFindings& findings);
void runSsmBeaconTest(std::ostream& out, const PassSetup& setup, PassFindings& findings);
void runAllRoutersPingTest(std::ostream& out, const PassSetup& setup, PassFindings& findings);
void runSsmRoutersPingTest(std::ostream& out, const PassSetup& setup, PassFindings& findings);
void runIgmpV2Test(std::ostream& out, const PassSetup& setup, PassFindings& findings);
void runIgmpV3Test(std::ostream& out, const PassSetup& setup, PassFindings& findings);
void runPimRoutersPingTest(std::ostream& out, const PassSetup& setup, PassFindings& findings);
void runPimTest(std::ostream& out, const PassSetup& setup, PassFindings& findings);

// One pass over fresh findings: tests 1 to 8, then the report.
void runPass(std::ostream& out, const PassSetup& setup, PassFindings& findings);
