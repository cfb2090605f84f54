// A finding of the diagnosis as data: what was found, how bad it is, the
// typed values it rests on and the RFC behind it. The sentence an engineer
// reads (app/finding_text.h) and the JSON (app/finding_json.h) are rendered
// from these values; a finding holds no prose of its own.
#pragma once

#include <string>
#include <string_view>

#include "app/evidence.h"

enum class Severity { Problem, Warning, Info };

// "problem", "warning" or "info".
const char* severityName(Severity severity);

// What a finding is about, one value for each rule of the diagnosis.
enum class FindingId {
  Querier,
  NoQuerier,
  QuerierOldVersion,
  MultipleQueriers,
  SwitchQuerier,
  MembershipInterval,
  QueryOffSubnet,
  QueryNotLinkLocal,
  HostIgmpVersionForced,
  HostIgmpCompatMode,
  HostMldVersionForced,
  HostDropsBeacon,
  BeaconTtl,
  PimDr,
  RouterIgnoresPings,
  LeaveWithheld,
  HostIsRouter,
  BeaconTtlLow,
  PimPassive,
  PimNeighbourRestarted,
  PimHoldtime,
  HostDropsReplies,
  OldVersionQuery,
  QuerierSilentToProbe,
  SnoopingDropsIgmpv3,
};

// Stable, for scripts and the metrics' labels: "no-querier", "host-drops-beacon", ...
std::string_view findingName(FindingId id);

struct Finding {
  FindingId id = FindingId::Querier;
  Severity severity = Severity::Info;
  // The values it rests on, in the order the JSON lists them, "family" last.
  Evidence evidence;
  // The RFC and section, where there is one; "" where none.
  std::string reference;
};
