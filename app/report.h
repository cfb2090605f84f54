#pragma once

#include <ostream>

#include "app/run_flags.h"

// The conclusions of one pass, one line for each that holds.
void printReport(std::ostream& out, const PassFindings& findings);
