#pragma once

#include <functional>
#include <istream>
#include <ostream>

#include "app/run_flags.h"

using PassRunner = std::function<void(std::ostream&, PassFindings&)>;

// The whole run: banner, passes until the user quits, and the outermost
// failure scope. Returns the process's exit status, always 0.
int runDiagnostics(std::istream& in, std::ostream& out, const PassRunner& pass);
