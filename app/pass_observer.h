// What a pass tells as it runs. Outputs follow a pass through these calls and
// render its report: the text prints each line at the moment it stands for,
// the JSON writes each battery at its end, the metrics the whole pass.
#pragma once

#include "app/findings.h"
#include "app/pass_report.h"

class PassObserver {
 public:
  PassObserver() = default;
  virtual ~PassObserver() = default;
  PassObserver(const PassObserver&) = delete;
  PassObserver& operator=(const PassObserver&) = delete;
  PassObserver(PassObserver&&) = delete;
  PassObserver& operator=(PassObserver&&) = delete;

  // A family's battery begins: its records are fresh.
  virtual void passBegins(const PassFindings& /*findings*/) {}
  // Before the test does anything: its record names what it will probe.
  virtual void testBegins(const TestRecord& /*record*/) {}
  // The test has seen what decides it; what it does after (a leave) may
  // still fail.
  virtual void verdictReached(const TestRecord& /*record*/) {}
  // The test is over, its outcome and any failure in the record.
  virtual void testEnds(const TestRecord& /*record*/) {}
  // A family's battery is over: the report's latest battery is its.
  virtual void passEnds(const PassReport& /*report*/) {}
  // Every battery of the pass ran.
  virtual void passComplete(const PassReport& /*report*/) {}
  // False once nobody can take in what follows: the pass then runs no more tests.
  [[nodiscard]] virtual bool stillWanted() const { return true; }
};
