// Why the link works as it does: findings drawn from the records of a pass,
// each with the values it rests on and the RFC behind it. Computed after
// every pass, like the report; the JSON always carries it, the text on
// --explain.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/conclusions.h"
#include "app/findings.h"

enum class Severity { Problem, Warning, Info };

// "problem", "warning" or "info".
const char* severityName(Severity severity);

struct Finding {
  // Stable, for scripts: "no-querier", "host-drops-beacon", ...
  std::string id;
  Severity severity = Severity::Info;
  // One sentence an engineer can act on, naming the interface, the
  // addresses and the values.
  std::string summary;
  // The values it rests on: addresses as text, numbers as numbers.
  nlohmann::ordered_json evidence = nlohmann::ordered_json::object();
  // The RFC and section, where there is one; "" where none.
  std::string reference;
};

// The rules, one row each: the id a finding carries and the function that
// finds it, or finds nothing.
struct DiagnosisRule {
  std::string_view id;
  std::optional<Finding> (*find)(const PassFindings& findings,
                                 std::span<const HeldConclusion> held);
};

std::span<const DiagnosisRule> diagnosisRules();

// The findings of one pass, given the report's conclusions that `held` for
// it: problems first, then warnings, then information, each in the order of
// the rules.
std::vector<Finding> diagnose(const PassFindings& findings, std::span<const HeldConclusion> held);
