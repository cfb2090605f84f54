// Why the link works as it does: findings drawn from the records of a pass,
// each with the values it rests on and the RFC behind it. Computed after
// every pass, like the report; the JSON always carries it, the text on
// --explain.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "app/conclusions.h"
#include "app/finding.h"
#include "app/findings.h"

// The rules, one row each: the finding it makes and the function that
// decides whether the pass shows it and fills its evidence. A rule writes
// no prose and no JSON: app/finding_text.cpp and app/finding_json.cpp
// render what it fills.
struct DiagnosisRule {
  FindingId id;
  std::optional<Finding> (*find)(const PassFindings& findings,
                                 std::span<const HeldConclusion> held);
};

std::span<const DiagnosisRule> diagnosisRules();

// The findings of one pass, given the report's conclusions that `held` for
// it: problems first, then warnings, then information, each in the order of
// the rules.
std::vector<Finding> diagnose(const PassFindings& findings, std::span<const HeldConclusion> held);
