// One pass as a JSON object on one line, for scripts and monitoring. The
// layout is described by schema/pass.schema.json.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "app/findings.h"
#include "app/pass_observer.h"

struct PassTiming {
  std::chrono::system_clock::time_point start;
  std::uint32_t durationMs = 0;
};

std::string passJson(const PassTiming& timing, const PassFindings& findings);

// Writes each pass as one line of JSON when it ends; nothing before. The
// pass's start is the moment this output is made.
class JsonOutput final : public PassObserver {
 public:
  explicit JsonOutput(std::ostream& out);

  void passEnds(const PassFindings& findings) override;

 private:
  std::ostream& out_;
  std::chrono::system_clock::time_point start_;
  std::chrono::steady_clock::time_point startTick_;
};

// 2026-12-08T18:05:09.123Z
std::string rfc3339Utc(std::chrono::system_clock::time_point when);
