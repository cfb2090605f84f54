#include "app/diagnosis.h"

#include <algorithm>
#include <array>
#include <sstream>

#include "app/link_facts.h"

namespace {

using json = nlohmann::ordered_json;
using Held = std::span<const HeldConclusion>;

// What snooping switches commonly keep a group without a report: 2 x 125 s
// + 10 s, the membership interval of RFC 3376's defaults.
constexpr std::uint64_t kSnoopingTimeoutMs = 260000;

std::string interfaceName(const PassFindings& findings) {
  if (findings.link && !findings.link->name.empty()) return findings.link->name;
  return "the tested interface";
}

std::string seconds(std::uint64_t milliseconds) {
  std::ostringstream text;
  text << milliseconds / 1000;
  if (milliseconds % 1000 != 0) text << '.' << (milliseconds % 1000) / 100;
  text << " s";
  return text.str();
}

std::string joined(const std::vector<net::Address>& addresses, const char* last = " and ") {
  std::string text;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    if (i > 0) text += i + 1 == addresses.size() ? last : ", ";
    text += addresses[i].toString();
  }
  return text;
}

json texts(const std::vector<net::Address>& addresses) {
  json list = json::array();
  for (const net::Address& address : addresses) list.push_back(address.toString());
  return list;
}

bool ipv6(const PassFindings& findings) { return findings.family == net::Family::V6; }

// "IGMP" or "MLD", the family's membership protocol.
const char* protocolName(const PassFindings& findings) { return ipv6(findings) ? "MLD" : "IGMP"; }

// The version whose queries serve source-specific joins: IGMPv3, MLDv2.
int sourceVersion(const PassFindings& findings) { return ipv6(findings) ? 2 : 3; }

// The sources of the queries seen that the election counts: not 0.0.0.0 or
// ::, and on IPv6 link-local (any other is query-not-link-local's).
std::vector<net::Address> routerQueriers(const PassFindings& findings) {
  auto sources = querySources(findings);
  std::erase_if(sources, [](const net::Address& source) { return !canBeElected(source); });
  return sources;
}

std::optional<Finding> findQuerier(const PassFindings& findings, Held /*held*/) {
  const auto querier = querierOf(findings);
  if (!querier) return std::nullopt;
  const bool sourceCapable = querier->version >= sourceVersion(findings);
  const char* reference = ipv6(findings)
                              ? (sourceCapable ? "RFC 3810 5.1.8, 5.1.9, 9.4" : "RFC 2710 3")
                              : (sourceCapable ? "RFC 3376 4.1.6, 4.1.7, 8.4" : "RFC 2236 3");
  Finding finding{"querier", Severity::Info, "", json::object(), reference};
  std::ostringstream summary;
  summary << "The " << protocolName(findings) << " querier on " << interfaceName(findings) << " is "
          << querier->address.toString() << " (" << protocolName(findings) << "v"
          << querier->version << ")";
  json& evidence = finding.evidence;
  evidence["interface"] = interfaceName(findings);
  evidence["address"] = querier->address.toString();
  evidence["version"] = querier->version;
  evidence["robustness"] = querier->robustness ? json(*querier->robustness) : json(nullptr);
  evidence["query_interval_s"] =
      querier->queryIntervalSeconds ? json(*querier->queryIntervalSeconds) : json(nullptr);
  evidence["max_response_ms"] = querier->maxResponseMs;
  evidence["query_response_interval_ms"] =
      querier->queryResponseIntervalMs.value_or(kDefaultQueryResponseIntervalMs);
  evidence["membership_interval_s"] =
      querier->membershipIntervalMs
          ? json(static_cast<double>(*querier->membershipIntervalMs) / 1000)
          : json(nullptr);
  if (querier->membershipIntervalMs) {
    summary << ", robustness " << int{*querier->robustness} << ", query interval "
            << *querier->queryIntervalSeconds << " s: a group it hears no report of lives "
            << seconds(*querier->membershipIntervalMs) << " on the link.";
  } else {
    summary << "; its queries do not tell its timers.";
  }
  finding.summary = summary.str();
  return finding;
}

std::optional<Finding> findNoQuerier(const PassFindings& findings, Held /*held*/) {
  const bool v6 = ipv6(findings);
  if (!findings.ranCleanly(TestId::AnySourceMembership) ||
      !findings.ranCleanly(TestId::SourceMembership) || !queriesOfPass(findings).empty()) {
    return std::nullopt;
  }
  const std::string name = interfaceName(findings);
  return Finding{"no-querier", Severity::Problem,
                 std::string("No ") + protocolName(findings) + " querier answered on " + name +
                     ": without one, a snooping switch forgets the host's groups after about "
                     "260 s and their traffic stops, so multicast works for a few minutes, "
                     "then not.",
                 json{{"interface", name}},
                 v6 ? "RFC 4541 2.1.1, RFC 3810 9.4" : "RFC 4541 2.1.1, RFC 3376 8.4"};
}

std::optional<Finding> findOldQuerier(const PassFindings& findings, Held held) {
  const auto querier = querierOf(findings);
  if (!querier || querier->version >= sourceVersion(findings) || !canBeElected(querier->address)) {
    return std::nullopt;
  }
  const std::string version =
      protocolName(findings) + std::string("v") + std::to_string(querier->version);
  std::ostringstream summary;
  summary << "The querier " << querier->address.toString() << " on " << interfaceName(findings)
          << " speaks " << version
          << " only: it serves no source-specific join, and hosts that hear it fall back to "
          << version << ", so SSM cannot work on this link.";
  if (std::any_of(held.begin(), held.end(), [](const HeldConclusion& conclusion) {
        return conclusion.rule->kind == ConclusionKind::PathSsmNotSetUp;
      })) {
    summary << " This, not a switch, is why the report finds the path not set up for SSM.";
  }
  return Finding{"querier-old-version", Severity::Problem, summary.str(),
                 json{{"address", querier->address.toString()}, {"version", querier->version}},
                 ipv6(findings) ? "RFC 4604 2.2, RFC 3810 8.2.1" : "RFC 4604 2.2, RFC 3376 7.2.1"};
}

std::optional<Finding> findMultipleQueriers(const PassFindings& findings, Held /*held*/) {
  const auto queriers = routerQueriers(findings);
  if (queriers.size() < 2) return std::nullopt;
  return Finding{"multiple-queriers", Severity::Warning,
                 "Queries came from " + std::to_string(queriers.size()) + " queriers on " +
                     interfaceName(findings) + ": " + joined(queriers) + ". The lowest address, " +
                     queriers.front().toString() +
                     ", wins the election; queriers that keep querying regardless disagree.",
                 json{{"sources", texts(queriers)}, {"elected", queriers.front().toString()}},
                 ipv6(findings) ? "RFC 3810 7.6.2" : "RFC 3376 6.6.2"};
}

std::optional<Finding> findSwitchQuerier(const PassFindings& findings, Held /*held*/) {
  const auto sources = querySources(findings);
  if (sources.empty() || !sources.front().isUnspecified()) return std::nullopt;
  const auto routers = routerQueriers(findings);
  const std::string zero = sources.front().toString();
  std::string summary = "A querier sends from " + zero + " on " + interfaceName(findings) +
                        ": a snooping switch's own querier.";
  // Hosts act on no MLD query from ::, so it keeps only the switch's groups alive.
  if (ipv6(findings)) summary += " Hosts discard MLD queries from ::, so it does not serve them.";
  summary += routers.empty() ? " No router queries this link."
                             : " A router queries it too: " + joined(routers) + ".";
  return Finding{"switch-querier", Severity::Warning, summary,
                 json{{"source", zero}, {"router_queriers", texts(routers)}},
                 ipv6(findings) ? "RFC 4541 2.1.1, RFC 3810 5.1.14" : "RFC 4541 2.1.1"};
}

std::optional<Finding> findMembershipInterval(const PassFindings& findings, Held /*held*/) {
  const auto querier = querierOf(findings);
  if (!querier || !querier->membershipIntervalMs ||
      *querier->membershipIntervalMs <= kSnoopingTimeoutMs) {
    return std::nullopt;
  }
  const std::uint32_t response =
      querier->queryResponseIntervalMs.value_or(kDefaultQueryResponseIntervalMs);
  std::ostringstream summary;
  summary << "The querier " << querier->address.toString() << " keeps a group "
          << seconds(*querier->membershipIntervalMs) << " without a report (robustness "
          << int{*querier->robustness} << " x query interval " << *querier->queryIntervalSeconds
          << " s + " << seconds(response)
          << "), longer than the 260 s a snooping switch commonly keeps one: the switch can "
             "drop the host's groups between queries.";
  return Finding{
      "membership-interval", Severity::Warning, summary.str(),
      json{{"address", querier->address.toString()},
           {"robustness", *querier->robustness},
           {"query_interval_s", *querier->queryIntervalSeconds},
           {"query_response_interval_ms", response},
           {"membership_interval_s", static_cast<double>(*querier->membershipIntervalMs) / 1000},
           {"snooping_timeout_s", kSnoopingTimeoutMs / 1000}},
      ipv6(findings) ? "RFC 3810 9.4" : "RFC 3376 8.4"};
}

std::optional<Finding> findQueryOffSubnet(const PassFindings& findings, Held /*held*/) {
  if (ipv6(findings) || !findings.link) return std::nullopt;
  const auto prefix = net::onLinkPrefix(*findings.link);
  if (!prefix) return std::nullopt;
  auto outside = routerQueriers(findings);
  std::erase_if(outside, [&](const net::Address& source) { return prefix->contains(source); });
  if (outside.empty()) return std::nullopt;
  const std::string subnet = prefix->toString();
  return Finding{"query-off-subnet", Severity::Warning,
                 "Queries on " + interfaceName(findings) + " come from " + joined(outside) +
                     ", outside its subnet " + subnet +
                     ": a querier on another subnet is a misconfiguration, and hosts or "
                     "switches that check the source ignore it.",
                 json{{"addresses", texts(outside)}, {"subnet", subnet}}, ""};
}

std::optional<Finding> findQueryNotLinkLocal(const PassFindings& findings, Held /*held*/) {
  if (!ipv6(findings)) return std::nullopt;
  auto strangers = querySources(findings);
  // :: is the switch querier's finding.
  std::erase_if(strangers, [](const net::Address& source) {
    return source.isUnspecified() || source.isLinkLocal();
  });
  if (strangers.empty()) return std::nullopt;
  const std::string name = interfaceName(findings);
  return Finding{"query-not-link-local", Severity::Warning,
                 "MLD queries on " + name + " come from " + joined(strangers) + ", which " +
                     (strangers.size() == 1 ? "is" : "are") +
                     " not link-local: hosts and routers discard such queries, so they answer "
                     "nothing and elect nothing.",
                 json{{"interface", name}, {"addresses", texts(strangers)}}, "RFC 3810 5.1.14"};
}

std::optional<Finding> findForcedMldVersion(const PassFindings& findings, Held /*held*/) {
  const auto& forced = findings.hostState.forcedMldVersion;
  if (!ipv6(findings) || !forced) return std::nullopt;
  const std::string setting = forced->name + " is " + std::to_string(forced->value);
  json evidence{{"setting", forced->name}, {"value", forced->value}};
  if (forced->value >= 2) {
    return Finding{"host-mld-version-forced", Severity::Info,
                   setting + ": the host speaks MLDv2 on " + interfaceName(findings) +
                       " and never falls back for an MLDv1 querier.",
                   evidence, "RFC 3810 8.2.1"};
  }
  return Finding{"host-mld-version-forced", Severity::Problem,
                 setting + ": the host speaks only MLDv1 on " + interfaceName(findings) +
                     ", so its source-specific joins leave without their source and SSM "
                     "cannot work from it.",
                 evidence, "RFC 3810 8.2.1"};
}

std::optional<Finding> findForcedIgmpVersion(const PassFindings& findings, Held /*held*/) {
  const auto& forced = findings.hostState.forcedIgmpVersion;
  if (ipv6(findings) || !forced) return std::nullopt;
  const std::string setting = forced->name + " is " + std::to_string(forced->value);
  json evidence{{"setting", forced->name}, {"value", forced->value}};
  if (forced->value == 3) {
    return Finding{"host-igmp-version-forced", Severity::Info,
                   setting + ": the host speaks IGMPv3 on " + interfaceName(findings) +
                       " and never falls back for an older querier.",
                   evidence, "RFC 3376 7.2.1"};
  }
  return Finding{"host-igmp-version-forced", Severity::Problem,
                 setting + ": the host speaks only IGMPv" + std::to_string(forced->value) + " on " +
                     interfaceName(findings) +
                     ", so its source-specific joins leave without their source and SSM "
                     "cannot work from it.",
                 evidence, "RFC 3376 7.2.1"};
}

std::optional<Finding> findCompatibilityMode(const PassFindings& findings, Held /*held*/) {
  const auto mode = findings.hostState.igmpMode;
  const auto& forced = findings.hostState.forcedIgmpVersion;
  // A mode the setting holds it in is that setting's finding.
  if (ipv6(findings) || !mode || *mode >= 3 || (forced && forced->value == *mode)) {
    return std::nullopt;
  }
  const std::string name = interfaceName(findings);
  return Finding{"host-igmp-compat-mode", Severity::Warning,
                 name + " is in IGMPv" + std::to_string(*mode) +
                     " compatibility mode: it heard an older querier, and until that times out "
                     "(about 400 s after its last query) the host's source-specific joins leave "
                     "without their source.",
                 json{{"interface", name}, {"mode", *mode}}, "RFC 3376 7.2.1, 8.12"};
}

// One beacon the host dropped, for the summary and the evidence.
struct DroppedBeacon {
  const BeaconDetails* beacon;
  std::string name;
  std::string cause;
  std::optional<std::string> routeInterface;
};

std::optional<Finding> findHostDropsBeacon(const PassFindings& findings, Held /*held*/) {
  const std::string link = interfaceName(findings);
  const auto& filter = findings.hostState.reversePathFilter;
  // IPv6 has no rp_filter of its own: its drops stay of unknown cause.
  const bool strict = !ipv6(findings) && filter && filter->value == 1;
  std::vector<DroppedBeacon> dropped;
  for (const auto& [id, name] : {std::pair{TestId::AsmBeacon, "ASM"}, {TestId::SsmBeacon, "SSM"}}) {
    const auto& beacon = findings.details<BeaconDetails>(id);
    if (!droppedByHost(beacon)) continue;
    DroppedBeacon entry{&beacon, name, "unknown", std::nullopt};
    for (const LinkSender& sender : *beacon.onLink) {
      if (sender.routeInterface && *sender.routeInterface != link) {
        entry.routeInterface = sender.routeInterface;
        if (strict) entry.cause = "rp_filter";
      }
    }
    dropped.push_back(entry);
  }
  if (dropped.empty()) return std::nullopt;
  std::ostringstream summary;
  json beacons = json::array();
  bool byReversePath = false;
  for (const DroppedBeacon& entry : dropped) {
    const BeaconDetails& beacon = *entry.beacon;
    std::int64_t onLink = beacon.unlistedLinkDatagrams;
    std::vector<net::Address> senders;
    for (const LinkSender& sender : *beacon.onLink) {
      onLink += sender.datagrams;
      senders.push_back(sender.address);
    }
    if (summary.tellp() > 0) summary << ' ';
    summary << "The " << entry.name << " beacon's datagrams (" << beacon.group.toString()
            << " port " << beacon.port << " from " << joined(senders) << ") reached " << link
            << ", " << onLink << " of them, but the test's socket received none: ";
    if (entry.cause == "rp_filter") {
      byReversePath = true;
      summary << "strict reverse-path filtering (" << filter->name << " = 1) drops them, as the "
              << "route back to " << senders.front().toString() << " leaves by "
              << *entry.routeInterface << ".";
    } else {
      summary << "something on the host drops them (a firewall, for instance).";
    }
    json item{{"beacon", entry.name},
              {"group", beacon.group.toString()},
              {"port", beacon.port},
              {"source", beacon.source ? json(beacon.source->toString()) : json(nullptr)},
              {"senders", texts(senders)},
              {"datagrams_on_link", onLink},
              {"datagrams_received", 0},
              {"cause", entry.cause}};
    if (entry.routeInterface) item["route_interface"] = *entry.routeInterface;
    beacons.push_back(item);
  }
  json evidence{{"interface", link}, {"beacons", beacons}};
  if (filter && !ipv6(findings))
    evidence["rp_filter"] = json{{"setting", filter->name}, {"value", filter->value}};
  return Finding{"host-drops-beacon", Severity::Problem, summary.str(), evidence,
                 byReversePath ? "RFC 3704 2.2" : ""};
}

std::optional<Finding> findBeaconTtl(const PassFindings& findings, Held /*held*/) {
  json beacons = json::array();
  std::string lowestOfEach;
  for (const auto& [id, name] : {std::pair{TestId::AsmBeacon, "ASM"}, {TestId::SsmBeacon, "SSM"}}) {
    const auto& beacon = findings.details<BeaconDetails>(id);
    if (beacon.members.empty() || !beacon.onLink || beacon.onLink->empty()) continue;
    std::uint8_t lowest = 255;
    for (const LinkSender& sender : *beacon.onLink) lowest = std::min(lowest, sender.lowestTtl);
    if (!lowestOfEach.empty()) lowestOfEach += " and ";
    lowestOfEach += std::to_string(lowest) + " (" + name + " " + beacon.group.toString() + ")";
    beacons.push_back({{"beacon", name},
                       {"group", beacon.group.toString()},
                       {"port", beacon.port},
                       {"lowest_ttl", lowest}});
  }
  if (beacons.empty()) return std::nullopt;
  return Finding{"beacon-ttl", Severity::Info,
                 "The beacons arrive on " + interfaceName(findings) + " with a lowest " +
                     (ipv6(findings) ? "hop limit" : "TTL") + " of " + lowestOfEach +
                     ": the hops each may still make beyond this link.",
                 json{{"beacons", beacons}}, ""};
}

std::optional<Finding> findDesignatedRouter(const PassFindings& findings, Held /*held*/) {
  const auto dr = designatedRouterOf(findings);
  if (!dr) return std::nullopt;
  json neighbours = json::array();
  std::vector<net::Address> addresses;
  for (const NeighbourHello& hello : dr->neighbours) {
    addresses.push_back(hello.sender);
    neighbours.push_back({{"address", hello.sender.toString()},
                          {"dr_priority", hello.options.drPriority ? json(*hello.options.drPriority)
                                                                   : json(nullptr)}});
  }
  std::ostringstream summary;
  summary << "The PIM designated router on " << interfaceName(findings) << " is "
          << dr->address.toString();
  if (dr->priority) summary << " (DR priority " << *dr->priority << ")";
  summary << ", of " << dr->neighbours.size()
          << (dr->neighbours.size() == 1 ? " neighbour: " : " neighbours: ") << joined(addresses)
          << "; it forwards the link's multicast.";
  return Finding{"pim-dr", Severity::Info, summary.str(),
                 json{{"address", dr->address.toString()},
                      {"dr_priority", dr->priority ? json(*dr->priority) : json(nullptr)},
                      {"neighbours", neighbours}},
                 "RFC 7761 4.3.2"};
}

std::optional<Finding> findIgnoredPings(const PassFindings& findings, Held /*held*/) {
  for (const TestId id : {TestId::AllRoutersPing, TestId::SsmRoutersPing, TestId::PimRoutersPing}) {
    if (!findings.ranCleanly(id) || !findings.details<PingDetails>(id).replies.empty()) {
      return std::nullopt;
    }
  }
  std::optional<net::Address> router;
  if (const auto querier = querierOf(findings); querier && canBeElected(querier->address)) {
    router = querier->address;
  } else if (const auto dr = designatedRouterOf(findings)) {
    router = dr->address;
  }
  if (!router) return std::nullopt;
  const char* why = ipv6(findings)
                        ? "Linux routers ignore them with net.ipv6.icmp.echo_ignore_multicast"
                        : "Linux routers ignore them by default (icmp_echo_ignore_broadcasts)";
  return Finding{"router-ignores-pings", Severity::Info,
                 router->toString() + " runs " + protocolName(findings) + " or PIM on " +
                     interfaceName(findings) + " but answered none of the group pings: " + why +
                     ", so the report's rows that rest on pings understate this router.",
                 json{{"address", router->toString()}}, ""};
}

// A group the host held through another socket got no leave (BLOCK) from the
// tool, so the router had nothing to answer with a group query.
std::optional<Finding> findWithheldLeave(const PassFindings& findings, Held /*held*/) {
  for (const TestId id : {TestId::AnySourceMembership, TestId::SourceMembership}) {
    const auto& membership = findings.details<MembershipDetails>(id);
    if (!membership.leaveWithheld) continue;
    const std::string group = membership.group.toString();
    const bool block = id == TestId::SourceMembership;
    return Finding{"leave-withheld", Severity::Info,
                   "The host already holds " + group + " on " + interfaceName(findings) +
                       " through another socket, so the " + protocolName(findings) +
                       " test sent no " + (block ? "BLOCK" : "leave") +
                       " for it: a router that leaves at once would stop that program's stream. "
                       "Without a leave the router has no cause for a group query, so the test's "
                       "verdict rests on general queries alone.",
                   json{{"group", group}, {"interface", interfaceName(findings)}}, ""};
  }
  return std::nullopt;
}

constexpr std::array<DiagnosisRule, 16> kRules{{
    {"querier", findQuerier},
    {"no-querier", findNoQuerier},
    {"querier-old-version", findOldQuerier},
    {"multiple-queriers", findMultipleQueriers},
    {"switch-querier", findSwitchQuerier},
    {"membership-interval", findMembershipInterval},
    {"query-off-subnet", findQueryOffSubnet},
    {"query-not-link-local", findQueryNotLinkLocal},
    {"host-igmp-version-forced", findForcedIgmpVersion},
    {"host-igmp-compat-mode", findCompatibilityMode},
    {"host-mld-version-forced", findForcedMldVersion},
    {"host-drops-beacon", findHostDropsBeacon},
    {"beacon-ttl", findBeaconTtl},
    {"pim-dr", findDesignatedRouter},
    {"router-ignores-pings", findIgnoredPings},
    {"leave-withheld", findWithheldLeave},
}};

}  // namespace

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

std::span<const DiagnosisRule> diagnosisRules() { return kRules; }

std::vector<Finding> diagnose(const PassFindings& findings, Held held) {
  std::vector<Finding> found;
  for (const DiagnosisRule& rule : kRules) {
    if (auto finding = rule.find(findings, held)) {
      // One id serves both families; the evidence says which.
      finding->evidence["family"] = ipv6(findings) ? "ipv6" : "ipv4";
      found.push_back(std::move(*finding));
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Finding& a, const Finding& b) { return a.severity < b.severity; });
  return found;
}
