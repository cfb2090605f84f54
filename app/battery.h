// The eight tests of the battery. Each prints its own lines, records its
// verdict in the pass's findings and catches its own socket failures.
#pragma once

#include <ostream>

#include "app/pass_setup.h"
#include "app/run_flags.h"

void runAsmBeaconTest(std::ostream& out, const PassSetup& setup, RunFlags& flags);       // test 1
void runSsmBeaconTest(std::ostream& out, const PassSetup& setup, RunFlags& flags);       // test 2
void runAllRoutersPingTest(std::ostream& out, const PassSetup& setup, RunFlags& flags);  // test 3
void runSsmRoutersPingTest(std::ostream& out, const PassSetup& setup, RunFlags& flags);  // test 4
void runIgmpV2Test(std::ostream& out, const PassSetup& setup, RunFlags& flags);          // test 5
void runIgmpV3Test(std::ostream& out, const PassSetup& setup, RunFlags& flags);          // test 6
void runPimRoutersPingTest(std::ostream& out, const PassSetup& setup, RunFlags& flags);  // test 7
void runPimTest(std::ostream& out, const PassSetup& setup, PassFindings& findings);      // test 8

// One pass over fresh findings: tests 1 to 8, then the report.
void runPass(std::ostream& out, const PassSetup& setup, PassFindings& findings);
