#pragma once

#include <ostream>

#include "app/pass_findings.h"

// The conclusions of one pass, one line for each that holds.
void printReport(std::ostream& out, const PassFindings& findings);
