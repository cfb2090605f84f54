// One pass as metrics in the Prometheus text exposition format (0.0.4), for
// node_exporter's textfile collector: the whole file is replaced after each
// pass, so a scrape sees one pass or the one before it, never half of one.
#pragma once

#include <cstddef>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "app/findings.h"
#include "app/pass_observer.h"
#include "app/pass_timing.h"

// Series a family may hold at most, as the JSON keeps at most 256 of a kind:
// a flood of forged senders cannot grow the file or a time-series database.
inline constexpr std::size_t kMaxSeriesPerFamily = 256;

// The pass's metrics, every series labelled with the pass's interface so that
// the files of several instances (one per interface) can be collected side by side.
std::string prometheusText(const PassTiming& timing, std::span<const PassFindings> passes);
std::string prometheusText(const PassTiming& timing, const PassFindings& findings);

// Writes the metrics file at the end of every pass it follows, once the pass's
// last family (of `familiesPerPass`) has ended. A file that
// cannot be written is told on `errors` in one line; the pass is not affected.
class PrometheusOutput final : public PassObserver {
 public:
  PrometheusOutput(std::string path, std::ostream& errors, std::size_t familiesPerPass = 1);

  void passBegins(const PassFindings& findings) override;
  void passEnds(const PassFindings& findings) override;

  // Some pass's file could not be written.
  [[nodiscard]] bool writeFailed() const { return writeFailed_; }

 private:
  std::string path_;
  std::ostream& errors_;
  std::size_t familiesPerPass_;
  std::vector<PassFindings> batteries_;
  PassClock clock_;
  bool writeFailed_ = false;
};
