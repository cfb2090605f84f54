// The report's conclusions as one table: each row a stable id, its condition
// over the findings and its exact text. The text report, the JSON and any
// other output read this one list.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/findings.h"

// What a conclusion says, the same in both families: rules that rest on the
// report read it by this.
enum class ConclusionKind {
  HostAsm,
  HostSsm,
  RouterAsm,
  PathAsm,
  RouterSsm,
  PathSsm,
  PathSsmNotSetUp,
  RouterPim,
  PimActive,
  AsmBeaconWorking,
  PathAsmNoTraffic,
  SsmBeaconWorking,
  PathSsmNoTraffic,
};

struct Conclusion {
  ConclusionKind kind;
  // The family whose report prints it.
  net::Family family;
  // Stable, for scripts: "host-asm", "path-ssm-not-setup", ...
  std::string_view id;
  bool (*holds)(const PassFlags& flags, const PassFindings& findings);
  // The line exactly as printed, without its line end.
  std::string_view text;
  // What follows the text on the same line, from the findings; none when null.
  std::string (*detail)(const PassFindings& findings) = nullptr;
};

// Every conclusion, in the order the report prints them, IPv4's first.
std::span<const Conclusion> conclusions();

struct HeldConclusion {
  const Conclusion* rule;
  // The whole line, text and detail, without its line end.
  std::string line;
};

// The conclusions of the pass's family that hold for it, in report order.
std::vector<HeldConclusion> conclusionsThatHold(const PassFindings& findings);
