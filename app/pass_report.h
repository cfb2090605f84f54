// What one pass found, worked out once when each battery ends: the records,
// the conclusions that held, the diagnosis, and when the pass ran. Every
// output (the text, --explain, JSON, the metrics) renders this value and
// works out nothing of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "app/conclusions.h"
#include "app/diagnosis.h"
#include "app/findings.h"

// One family's battery of a pass, with everything drawn from its records.
struct BatteryReport {
  PassFindings findings;
  // The report's lines, in report order.
  std::vector<HeldConclusion> conclusions;
  // Problems first, then warnings, then information.
  std::vector<Finding> diagnosis;
  // Every test of the battery ran and found what it looks for.
  bool succeeded = false;
};

// The one place a battery's records become its conclusions and diagnosis.
BatteryReport reportBattery(PassFindings findings);

// When a pass began and how long it took, as the machine-read outputs tell it.
struct PassTiming {
  std::chrono::system_clock::time_point start;
  // From the start to the end of the latest battery.
  std::uint32_t durationMs = 0;
};

// A pass: when it began, and its batteries so far.
struct PassReport {
  PassTiming timing;
  // One for each family run so far, in the order they ran.
  std::vector<BatteryReport> batteries;

  // A pass beginning now. The wall clock names the start for readers; the
  // length comes from the monotonic clock, which a clock step during the
  // pass cannot bend.
  static PassReport startingNow();
  // Adds a battery that has just ended and times the pass up to now.
  const BatteryReport& batteryEnded(PassFindings findings);
  // Every test of every family run succeeded.
  [[nodiscard]] bool succeeded() const;

  // The monotonic clock at the start, which the duration is measured from.
  std::chrono::steady_clock::time_point startTick;
};
