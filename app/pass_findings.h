// What one pass of the battery found out, read by the report.
#pragma once

#include <optional>
#include <string>

#include "app/pass_record.h"

// The yes-or-no conclusions of one pass, each test's and the host's own.
struct PassFlags {
  bool hostAsmCapable = false;
  bool hostSsmCapable = false;
  bool allRoutersAnswered = false;
  bool ssmRoutersAnswered = false;
  bool pimRoutersAnswered = false;
  bool pimHelloAnswered = false;
  bool asmBeaconHeard = false;
  bool ssmBeaconHeard = false;
  bool igmpV2QuerySeen = false;
  bool igmpV3QuerySeen = false;
};

// The link a pass tested, and how it was chosen: "option", "host-name",
// "multicast-route" or "first-up". Unknown parts are empty.
struct InterfaceSummary {
  std::optional<std::string> name;
  std::optional<std::string> address;
  std::optional<std::string> chosenBy;
};

struct PassFindings {
  PassFlags flags;
  // The PIM responders (or else RPs) behind the PIM conclusion.
  std::string pimResponderText;
  // Test N's record is tests[N - 1].
  TestRecords tests;
  InterfaceSummary chosenInterface;
};
