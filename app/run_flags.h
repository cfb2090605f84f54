// What one pass of the battery found out, read by the report.
#pragma once

#include <string>

struct RunFlags {
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

struct PassFindings {
  RunFlags flags;
  // The PIM responders (or else RPs) behind the PIM conclusion.
  std::string pimResponderText;
};
