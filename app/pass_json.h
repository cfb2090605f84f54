// One pass as a JSON object on one line, for scripts and monitoring. The
// layout is described by schema/pass.schema.json.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/pass_findings.h"

struct PassTiming {
  std::chrono::system_clock::time_point start;
  std::uint32_t durationMs = 0;
};

// The conclusion lines of the report, each exactly as the text prints it
// (trailing blanks included), without its line end.
std::vector<std::string> reportLines(const PassFindings& findings);

std::string passJson(const PassTiming& timing, const PassFindings& findings);

// 2026-12-08T18:05:09.123Z
std::string rfc3339Utc(std::chrono::system_clock::time_point when);
