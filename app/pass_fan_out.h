// Lets several outputs follow the same pass: the text or JSON on standard
// output, and beside it the metrics file.
#pragma once

#include <utility>
#include <vector>

#include "app/pass_observer.h"

class PassFanOut final : public PassObserver {
 public:
  // `reader` is the output a person or script reads: whether the pass goes on
  // is its call. The others only follow.
  PassFanOut(PassObserver& reader, std::vector<PassObserver*> followers)
      : reader_(reader), followers_(std::move(followers)) {}

  void passBegins(const PassFindings& findings) override {
    reader_.passBegins(findings);
    for (PassObserver* follower : followers_) follower->passBegins(findings);
  }
  void testBegins(const TestRecord& record) override {
    reader_.testBegins(record);
    for (PassObserver* follower : followers_) follower->testBegins(record);
  }
  void verdictReached(const TestRecord& record) override {
    reader_.verdictReached(record);
    for (PassObserver* follower : followers_) follower->verdictReached(record);
  }
  void testEnds(const TestRecord& record) override {
    reader_.testEnds(record);
    for (PassObserver* follower : followers_) follower->testEnds(record);
  }
  void passEnds(const PassReport& report) override {
    reader_.passEnds(report);
    for (PassObserver* follower : followers_) follower->passEnds(report);
  }
  void passComplete(const PassReport& report) override {
    reader_.passComplete(report);
    for (PassObserver* follower : followers_) follower->passComplete(report);
  }
  [[nodiscard]] bool stillWanted() const override { return reader_.stillWanted(); }

 private:
  PassObserver& reader_;
  std::vector<PassObserver*> followers_;
};
