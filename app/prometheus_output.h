// One pass as metrics in the Prometheus text exposition format (0.0.4), for
// node_exporter's textfile collector: the whole file is replaced after each
// pass, so a scrape sees one pass or the one before it, never half of one.
#pragma once

#include <cstddef>
#include <ostream>
#include <span>
#include <string>

#include "app/findings.h"
#include "app/pass_observer.h"
#include "app/pass_report.h"

// Series a family may hold at most, as the JSON keeps at most 256 of a kind:
// a flood of forged senders cannot grow the file or a time-series database.
inline constexpr std::size_t kMaxSeriesPerFamily = 256;

// The pass's metrics, every series labelled with the pass's interface so that
// the files of several instances (one per interface) can be collected side by side.
std::string prometheusText(const PassReport& report);

// Writes the metrics file at the end of every pass it follows, once all its
// families ran. A file that cannot be written is told on `errors` in one
// line; the pass is not affected.
class PrometheusOutput final : public PassObserver {
 public:
  PrometheusOutput(std::string path, std::ostream& errors);

  void passComplete(const PassReport& report) override;

  // Some pass's file could not be written.
  [[nodiscard]] bool writeFailed() const { return writeFailed_; }

 private:
  std::string path_;
  std::ostream& errors_;
  bool writeFailed_ = false;
};
