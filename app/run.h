#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>

#include "app/pass_observer.h"
#include "app/pass_report.h"

// Runs one pass, telling `observer` as it goes: each family's battery into
// `report`, which begins empty as the pass begins.
using PassRunner = std::function<void(PassObserver& observer, PassReport& report)>;

// The whole run: banner, passes until the user quits, and the outermost
// failure scope; with `explain`, each report is followed by the diagnosis.
// Returns the process's exit status, always 0. `alongside`, when given,
// follows every pass beside the text (the metrics file).
int runDiagnostics(std::istream& in, std::ostream& out, const PassRunner& pass,
                   bool explain = false, PassObserver* alongside = nullptr);

// A run for scripts: no prompt and no input read. With repeatSeconds it runs
// a pass, waits that long and runs again until the process is interrupted;
// without, one pass. JSON gives one line per pass instead of the text; the
// text of repeated passes is headed by the time each began.
struct ScriptedRun {
  bool json = false;
  std::optional<std::int32_t> repeatSeconds;
  // Text only: the diagnosis after each report (JSON always carries it).
  bool explain = false;
};

// Returns 0 when every test of the (last) pass succeeded, else 1.
int runScripted(std::ostream& out, const PassRunner& pass, const ScriptedRun& how,
                PassObserver* alongside = nullptr);
