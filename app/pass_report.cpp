#include "app/pass_report.h"

#include <algorithm>
#include <utility>

BatteryReport reportBattery(PassFindings findings) {
  BatteryReport report;
  report.conclusions = conclusionsThatHold(findings);
  report.diagnosis = diagnose(findings, report.conclusions);
  report.succeeded =
      !findings.tests.empty() &&
      std::all_of(findings.tests.begin(), findings.tests.end(),
                  [](const TestRecord& test) { return test.outcome == TestOutcome::Succeeded; });
  report.findings = std::move(findings);
  return report;
}

bool PassReport::succeeded() const {
  return !batteries.empty() &&
         std::all_of(batteries.begin(), batteries.end(),
                     [](const BatteryReport& battery) { return battery.succeeded; });
}

PassReport PassReport::startingNow() {
  PassReport report;
  report.timing.start = std::chrono::system_clock::now();
  report.startTick = std::chrono::steady_clock::now();
  return report;
}

const BatteryReport& PassReport::batteryEnded(PassFindings findings) {
  batteries.push_back(reportBattery(std::move(findings)));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - startTick);
  timing.durationMs = static_cast<std::uint32_t>(took.count());
  return batteries.back();
}
