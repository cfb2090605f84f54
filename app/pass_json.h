// One pass as a JSON object on one line, for scripts and monitoring. The
// layout is described by schema/pass.schema.json.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "app/pass_observer.h"
#include "app/pass_report.h"

// One family's battery of a pass.
std::string passJson(const PassTiming& timing, const BatteryReport& battery);

// Writes each family's battery as one line of JSON when it ends; nothing before.
class JsonOutput final : public PassObserver {
 public:
  explicit JsonOutput(std::ostream& out);

  void passEnds(const PassReport& report) override;

 private:
  std::ostream& out_;
};

// 2026-12-08T18:05:09.123Z
std::string rfc3339Utc(std::chrono::system_clock::time_point when);
