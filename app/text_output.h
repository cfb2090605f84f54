// The tool's own text: each test's header as it begins, its result line when
// its verdict is in, its failure text when it ends, and the report at the end
// of the pass, written exactly as they have always read.
#pragma once

#include <ostream>
#include <string>

#include "app/pass_observer.h"

class TextOutput final : public PassObserver {
 public:
  // With `explain`, the diagnosis follows the report.
  explicit TextOutput(std::ostream& out, bool explain = false) : out_(out), explain_(explain) {}

  void passBegins(const PassFindings& findings) override;
  void testBegins(const TestRecord& record) override;
  void verdictReached(const TestRecord& record) override;
  void testEnds(const TestRecord& record) override;
  void passEnds(const PassReport& report) override;
  // Nobody can read what a pass finds once its output is gone.
  [[nodiscard]] bool stillWanted() const override { return static_cast<bool>(out_); }

 private:
  std::ostream& out_;
  bool explain_;
  // The family of the pass under way: its texts differ.
  net::Family family_ = net::Family::V4;
};

// The report: its banner, then one line for each conclusion that holds.
void printReport(std::ostream& out, const BatteryReport& battery);

// After an empty line, "Diagnosis:", then each finding on a line of its own,
// its severity in brackets: "  [problem] No IGMP querier answered on eth0: ...".
void printDiagnosis(std::ostream& out, const BatteryReport& battery);
