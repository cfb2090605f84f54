#include "app/finding.h"

const char* severityName(Severity severity) {
  switch (severity) {
    case Severity::Problem:
      return "problem";
    case Severity::Warning:
      return "warning";
    case Severity::Info:
      break;
  }
  return "info";
}

std::string_view findingName(FindingId id) {
  switch (id) {
    case FindingId::Querier:
      return "querier";
    case FindingId::NoQuerier:
      return "no-querier";
    case FindingId::QuerierOldVersion:
      return "querier-old-version";
    case FindingId::MultipleQueriers:
      return "multiple-queriers";
    case FindingId::SwitchQuerier:
      return "switch-querier";
    case FindingId::MembershipInterval:
      return "membership-interval";
    case FindingId::QueryOffSubnet:
      return "query-off-subnet";
    case FindingId::QueryNotLinkLocal:
      return "query-not-link-local";
    case FindingId::HostIgmpVersionForced:
      return "host-igmp-version-forced";
    case FindingId::HostIgmpCompatMode:
      return "host-igmp-compat-mode";
    case FindingId::HostMldVersionForced:
      return "host-mld-version-forced";
    case FindingId::HostDropsBeacon:
      return "host-drops-beacon";
    case FindingId::BeaconTtl:
      return "beacon-ttl";
    case FindingId::PimDr:
      return "pim-dr";
    case FindingId::RouterIgnoresPings:
      return "router-ignores-pings";
    case FindingId::LeaveWithheld:
      return "leave-withheld";
    case FindingId::HostIsRouter:
      return "host-is-router";
    case FindingId::BeaconTtlLow:
      return "beacon-ttl-low";
    case FindingId::PimPassive:
      return "pim-passive";
    case FindingId::PimNeighbourRestarted:
      return "pim-neighbour-restarted";
    case FindingId::PimHoldtime:
      return "pim-holdtime";
    case FindingId::HostDropsReplies:
      return "host-drops-replies";
    case FindingId::OldVersionQuery:
      return "old-version-query";
    case FindingId::QuerierSilentToProbe:
      return "querier-silent-to-probe";
    case FindingId::SnoopingDropsIgmpv3:
      break;
  }
  return "snooping-drops-igmpv3";
}
