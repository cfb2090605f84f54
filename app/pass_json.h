// One pass as a JSON object on one line, for scripts and monitoring. The
// layout is described by schema/pass.schema.json.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "app/findings.h"
#include "app/pass_observer.h"
#include "app/pass_timing.h"

std::string passJson(const PassTiming& timing, const PassFindings& findings);

// Writes each pass as one line of JSON when it ends; nothing before. The
// pass's start is the moment this output is made.
class JsonOutput final : public PassObserver {
 public:
  explicit JsonOutput(std::ostream& out);

  void passEnds(const PassFindings& findings) override;

 private:
  std::ostream& out_;
  PassClock clock_;
};

// 2026-12-08T18:05:09.123Z
std::string rfc3339Utc(std::chrono::system_clock::time_point when);
