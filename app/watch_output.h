// The watch's renderers: the timeline's lines, the status line a terminal
// shows in place, the summary at the end, the JSON object and the metrics.
// Each reads the watch's records; none reads another's output.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/watch.h"

namespace watch {

// What the renderers say about the watch as a whole.
struct WatchFacts {
  std::string interfaceName;
  // Nothing when it runs until interrupted.
  std::optional<double> plannedS;
  double elapsedS = 0;
};

// "[  12.3 s] " and the event's text, no newline.
std::string timelineLine(const Event& event);
// One line, no newline, that fits a terminal: elapsed of total, datagrams
// per group, the age of the last query, the outages so far.
std::string statusLine(const LinkWatch& watch, const WatchFacts& facts);
// The summary after the watch: per group its datagrams and senders, each
// outage, the queriers and PIM neighbours heard.
std::string summaryText(const LinkWatch& watch, const WatchFacts& facts);
// What minutes of evidence say about the link: one finding per cause of the
// outages seen, a link without a query in a whole query interval, the
// querier as measured.
struct WatchFinding {
  std::string id;
  // "problem" or "info".
  std::string severity;
  std::string summary;
  std::string fix;
  nlohmann::json evidence = nlohmann::json::object();
};
std::vector<WatchFinding> watchDiagnosis(const LinkWatch& watch, const WatchFacts& facts);
// The diagnosis as --explain prints it after the summary.
std::string diagnosisText(const std::vector<WatchFinding>& findings);

// {"watch": {...}, "diagnosis": [...]}
nlohmann::json watchJson(const LinkWatch& watch, const WatchFacts& facts);
// The Prometheus text format, written whole at each refresh.
std::string watchMetrics(const LinkWatch& watch, const WatchFacts& facts);

}  // namespace watch
