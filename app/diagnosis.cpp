#include "app/diagnosis.h"

#include <algorithm>
#include <array>

#include "app/battery_constants.h"
#include "app/link_facts.h"

namespace {

using Held = std::span<const HeldConclusion>;

// What snooping switches commonly keep a group without a report: 2 x 125 s
// + 10 s, the membership interval of IGMPv3's defaults.
constexpr std::uint64_t kSnoopingTimeoutMs = 260000;

std::string interfaceName(const PassFindings& findings) {
  if (findings.link && !findings.link->name.empty()) return findings.link->name;
  return "the tested interface";
}

// Durations in seconds: the JSON has always carried them as numbers, not
// integers (260.0).
std::optional<double> secondsOf(std::optional<std::uint64_t> milliseconds) {
  if (!milliseconds) return std::nullopt;
  return static_cast<double>(*milliseconds) / 1000;
}

bool ipv6(const PassFindings& findings) { return findings.family == net::Family::V6; }

// How long the pass watched for queries, in whole seconds: the windows'
// milliseconds vary from run to run, the sentence should not. Null when it
// cannot tell (records that kept no durations).
std::optional<std::int64_t> watchedSeconds(const PassFindings& findings) {
  const std::uint32_t watched = queryWatchMs(findings);
  if (watched == 0) return std::nullopt;
  return watched / 1000;
}

// The version whose queries serve source-specific joins: IGMPv3, MLDv2.
int sourceVersion(const PassFindings& findings) { return ipv6(findings) ? 2 : 3; }

// The sources of the queries seen that the election counts: not 0.0.0.0 or
// ::, and on IPv6 link-local (any other is query-not-link-local's).
std::vector<net::Address> routerQueriers(const PassFindings& findings) {
  auto sources = querySources(findings);
  std::erase_if(sources, [](const net::Address& source) { return !canBeElected(source); });
  return sources;
}

// Test `id` sent its leave (BLOCK): it ran cleanly and the host held the
// group through no other socket.
bool probeSent(const PassFindings& findings, TestId id) {
  return findings.ranCleanly(id) && !findings.details<MembershipDetails>(id).leaveWithheld;
}

// The query that answered test `id`'s leave (BLOCK): one for its group, of
// the version the test asks for at least. A general query in its window is
// the querier's routine, not an answer.
std::optional<MembershipQuery> probeAnswer(const PassFindings& findings, TestId id) {
  const auto& membership = findings.details<MembershipDetails>(id);
  for (const ObservedQuery& seen : membership.queries) {
    if (!seen.query.group.isUnspecified() && seen.query.group == membership.group &&
        seen.query.version >= membership.lowestVersion) {
      return seen.query;
    }
  }
  return std::nullopt;
}

// The pass heard `address` as a router: it said a PIM Hello or answered a
// group ping. A snooping switch's own querier does neither.
bool heardAsRouter(const PassFindings& findings, const net::Address& address) {
  const auto& hellos = findings.details<PimDetails>(TestId::PimHello).hellos;
  if (std::any_of(hellos.begin(), hellos.end(),
                  [&](const NeighbourHello& hello) { return hello.sender == address; })) {
    return true;
  }
  for (const TestId id : {TestId::AllRoutersPing, TestId::SsmRoutersPing, TestId::PimRoutersPing}) {
    const auto& replies = findings.details<PingDetails>(id).replies;
    if (std::any_of(replies.begin(), replies.end(),
                    [&](const EchoReply& reply) { return reply.from == address; })) {
      return true;
    }
  }
  return false;
}

// `a` and `b` are addresses of one router: a PIM Hello from one names the
// other in its Address List, or one Hello names both. A router with several
// subnets on its interface says Hellos from its primary address and may
// query, and answer pings, from each of the others.
bool sameRouter(const PassFindings& findings, const net::Address& a, const net::Address& b) {
  if (a == b) return true;
  const auto& hellos = findings.details<PimDetails>(TestId::PimHello).hellos;
  return std::any_of(hellos.begin(), hellos.end(), [&](const NeighbourHello& hello) {
    const auto& others = hello.options.otherAddresses;
    const auto names = [&](const net::Address& address) {
      return address == hello.sender ||
             std::find(others.begin(), others.end(), address) != others.end();
    };
    return names(a) && names(b);
  });
}

// The queriers the election counts, one address for each router: the
// lowest it queried from.
std::vector<net::Address> distinctQueriers(const PassFindings& findings) {
  std::vector<net::Address> distinct;
  for (const net::Address& source : routerQueriers(findings)) {
    if (std::none_of(distinct.begin(), distinct.end(), [&](const net::Address& kept) {
          return sameRouter(findings, kept, source);
        })) {
      distinct.push_back(source);
    }
  }
  return distinct;
}

bool anyGeneralQuery(const PassFindings& findings) {
  const auto queries = queriesOfPass(findings);
  return std::any_of(queries.begin(), queries.end(),
                     [](const ObservedQuery& seen) { return seen.query.group.isUnspecified(); });
}

// The interface for the sentence alone: the JSON of these findings has
// never named it.
void addInterfaceForSentence(Evidence& evidence, const PassFindings& findings) {
  evidence.add("interface", interfaceName(findings), Shown::SentenceOnly);
}

std::optional<Finding> findQuerier(const PassFindings& findings, Held /*held*/) {
  const auto querier = querierOf(findings);
  if (!querier) return std::nullopt;
  const bool sourceCapable = querier->version >= sourceVersion(findings);
  Finding finding{FindingId::Querier,
                  Severity::Info,
                  {},
                  ipv6(findings) ? (sourceCapable ? "RFC 9777 5.1.8, 5.1.9, 9.4" : "RFC 2710 3")
                                 : (sourceCapable ? "RFC 9776 4.1.6, 4.1.7, 8.4" : "RFC 2236 3")};
  finding.evidence.add("interface", interfaceName(findings))
      .add("address", querier->address)
      .add("version", querier->version)
      .add("robustness", querier->robustness)
      .add("query_interval_s", querier->queryIntervalSeconds)
      .add("max_response_ms", querier->maxResponseMs)
      .add("query_response_interval_ms",
           querier->queryResponseIntervalMs.value_or(kDefaultQueryResponseIntervalMs))
      .add("membership_interval_s", secondsOf(querier->membershipIntervalMs));
  return finding;
}

std::optional<Finding> findNoQuerier(const PassFindings& findings, Held /*held*/) {
  if (!findings.ranCleanly(TestId::AnySourceMembership) ||
      !findings.ranCleanly(TestId::SourceMembership) || !queriesOfPass(findings).empty()) {
    return std::nullopt;
  }
  // Silence over a few seconds proves no absence: a querier sends its
  // general queries every 125 s by default, and one that answers leaves at
  // once sends nothing to the probe's. A warning, then, not a problem.
  Finding finding{FindingId::NoQuerier,
                  Severity::Warning,
                  {},
                  ipv6(findings) ? "RFC 4541 2.1.1, RFC 9777 9.2" : "RFC 4541 2.1.1, RFC 9776 8.2"};
  finding.evidence.add("interface", interfaceName(findings))
      .add("watched_s", watchedSeconds(findings));
  return finding;
}

std::optional<Finding> findOldQuerier(const PassFindings& findings, Held held) {
  const auto querier = querierOf(findings);
  if (!querier || querier->version >= sourceVersion(findings) || !canBeElected(querier->address)) {
    return std::nullopt;
  }
  const bool explainsRow =
      std::any_of(held.begin(), held.end(), [](const HeldConclusion& conclusion) {
        return conclusion.rule->kind == ConclusionKind::PathSsmNotSetUp;
      });
  Finding finding{FindingId::QuerierOldVersion,
                  Severity::Problem,
                  {},
                  ipv6(findings) ? "RFC 4604 2.2, RFC 9777 8.2.1" : "RFC 4604 2.2, RFC 9776 7.2.1"};
  finding.evidence.add("address", querier->address).add("version", querier->version);
  addInterfaceForSentence(finding.evidence, findings);
  // It, not a switch, is why the report's row on the SSM path holds.
  finding.evidence.add("explains_path_ssm_not_set_up", explainsRow, Shown::SentenceOnly);
  return finding;
}

std::optional<Finding> findMultipleQueriers(const PassFindings& findings, Held /*held*/) {
  // One router querying from each of its addresses is still one querier.
  const auto queriers = distinctQueriers(findings);
  if (queriers.size() < 2) return std::nullopt;
  Finding finding{FindingId::MultipleQueriers,
                  Severity::Warning,
                  {},
                  ipv6(findings) ? "RFC 9777 7.6.2" : "RFC 9776 6.6.2"};
  // The lowest address wins the election.
  finding.evidence.add("sources", queriers).add("elected", queriers.front());
  // The highest version each spoke, in the order of `sources`: queriers of
  // different versions are the commonest reason two keep querying.
  const auto speakers = querySpeakers(findings);
  EvidenceList versions;
  for (const net::Address& querier : queriers) {
    int highest = 0;
    for (const QuerySpeaker& speaker : speakers) {
      if (sameRouter(findings, querier, speaker.address)) {
        highest = std::max(highest, speaker.highestVersion);
      }
    }
    versions.emplace_back(highest);
  }
  finding.evidence.add("versions", std::move(versions));
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

std::optional<Finding> findSwitchQuerier(const PassFindings& findings, Held /*held*/) {
  const auto sources = querySources(findings);
  if (sources.empty() || !sources.front().isUnspecified()) return std::nullopt;
  Finding finding{FindingId::SwitchQuerier,
                  Severity::Warning,
                  {},
                  ipv6(findings) ? "RFC 4541 2.1.1, RFC 9777 5.1.14" : "RFC 4541 2.1.1"};
  finding.evidence.add("source", sources.front())
      .add("router_queriers", routerQueriers(findings))
      // With no router heard, how long the pass listened: its silence is
      // no proof that none queries.
      .add("watched_s", watchedSeconds(findings));
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// A snooping switch ages a port when no report comes for its timeout.
// Hosts report within the response interval of each general query, so
// reports come at most a query interval plus that interval apart: only
// when that gap exceeds the timeout does the switch drop a live group.
// Robustness does not enter: a switch counts no missed queries.
std::optional<Finding> findMembershipInterval(const PassFindings& findings, Held /*held*/) {
  const auto querier = querierOf(findings);
  if (!querier || !querier->queryIntervalSeconds) return std::nullopt;
  const std::uint64_t responseMs =
      querier->queryResponseIntervalMs.value_or(kDefaultQueryResponseIntervalMs);
  const std::uint64_t reportGapMs =
      std::uint64_t{*querier->queryIntervalSeconds} * 1000 + responseMs;
  if (reportGapMs <= kSnoopingTimeoutMs) return std::nullopt;
  Finding finding{
      FindingId::MembershipInterval,
      Severity::Warning,
      {},
      ipv6(findings) ? "RFC 4541 2.1.1, RFC 9777 9.2, 9.3" : "RFC 4541 2.1.1, RFC 9776 8.2, 8.3"};
  finding.evidence.add("address", querier->address)
      .add("robustness", querier->robustness)
      .add("query_interval_s", querier->queryIntervalSeconds)
      .add("query_response_interval_ms", responseMs)
      .add("membership_interval_s", secondsOf(querier->membershipIntervalMs))
      .add("report_gap_s", secondsOf(reportGapMs))
      .add("snooping_timeout_s", kSnoopingTimeoutMs / 1000);
  return finding;
}

// Hosts act on a query whatever its source; the harm of an off-subnet
// querier is the election, which counts its address like any other.
std::optional<Finding> findQueryOffSubnet(const PassFindings& findings, Held /*held*/) {
  if (ipv6(findings) || !findings.link) return std::nullopt;
  const auto prefixes = net::onLinkPrefixes(*findings.link);
  if (prefixes.empty()) return std::nullopt;
  const auto routers = routerQueriers(findings);
  const auto inside = [&](const net::Address& source) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const net::Prefix& prefix) { return prefix.contains(source); });
  };
  std::vector<net::Address> outside;
  std::vector<net::Address> onSubnet;
  for (const net::Address& source : routers)
    (inside(source) ? onSubnet : outside).push_back(source);
  // A router queries from its interface's primary address (and may from
  // each of its other ones): on a link with secondary subnets, a host in one
  // of those hears its own router from outside its subnet, and that is no
  // fault while no other querier is there to lose an election to it. Its
  // Hellos tie its addresses together; its pings may answer from any.
  const bool oneRouterHeard =
      distinctQueriers(findings).size() == 1 &&
      std::any_of(routers.begin(), routers.end(),
                  [&](const net::Address& address) { return heardAsRouter(findings, address); });
  if (oneRouterHeard) return std::nullopt;
  if (outside.empty()) return std::nullopt;
  EvidenceList subnets;
  for (const net::Prefix& prefix : prefixes) subnets.emplace_back(prefix.toString());
  Finding finding{FindingId::QueryOffSubnet, Severity::Warning, {}, "RFC 9776 6.6.2"};
  // `routers` is in byte order: its first wins the election.
  finding.evidence.add("addresses", outside)
      .add("subnets", std::move(subnets))
      .add("elected", routers.front())
      .add("subnet_queriers", onSubnet);
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

std::optional<Finding> findQueryNotLinkLocal(const PassFindings& findings, Held /*held*/) {
  if (!ipv6(findings)) return std::nullopt;
  auto strangers = querySources(findings);
  // :: is the switch querier's finding.
  std::erase_if(strangers, [](const net::Address& source) {
    return source.isUnspecified() || source.isLinkLocal();
  });
  if (strangers.empty()) return std::nullopt;
  Finding finding{FindingId::QueryNotLinkLocal, Severity::Warning, {}, "RFC 9777 5.1.14"};
  finding.evidence.add("interface", interfaceName(findings)).add("addresses", strangers);
  return finding;
}

// A kernel setting that holds the host to one version: information when
// it holds it to the newest (`newest`), else a problem.
Finding forcedVersion(const PassFindings& findings, const net::KernelSetting& forced, FindingId id,
                      bool newest, const char* reference) {
  Finding finding{id, newest ? Severity::Info : Severity::Problem, {}, reference};
  finding.evidence.add("setting", forced.name).add("value", forced.value);
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

std::optional<Finding> findForcedMldVersion(const PassFindings& findings, Held /*held*/) {
  const auto& forced = findings.hostState.forcedMldVersion;
  if (!ipv6(findings) || !forced) return std::nullopt;
  // Held to MLDv2, the kernel drops every MLDv1 query and sends only MLDv2
  // reports: an MLDv1-only querier then learns of no listener at all.
  std::optional<Querier> oldQuerier = querierOf(findings);
  if (!oldQuerier || oldQuerier->version != 1 || !canBeElected(oldQuerier->address) ||
      forced->value < 2) {
    oldQuerier.reset();
  }
  Finding finding = forcedVersion(findings, *forced, FindingId::HostMldVersionForced,
                                  forced->value >= 2 && !oldQuerier, "RFC 9777 8.2.1");
  finding.evidence.add("querier", oldQuerier ? std::optional(oldQuerier->address) : std::nullopt)
      .add("querier_version", oldQuerier ? std::optional(oldQuerier->version) : std::nullopt);
  return finding;
}

std::optional<Finding> findForcedIgmpVersion(const PassFindings& findings, Held /*held*/) {
  const auto& forced = findings.hostState.forcedIgmpVersion;
  if (ipv6(findings) || !forced) return std::nullopt;
  return forcedVersion(findings, *forced, FindingId::HostIgmpVersionForced, forced->value == 3,
                       "RFC 9776 7.2.1");
}

std::optional<Finding> findCompatibilityMode(const PassFindings& findings, Held /*held*/) {
  const auto mode = findings.hostState.igmpMode;
  const auto& forced = findings.hostState.forcedIgmpVersion;
  // A mode the setting holds it in is that setting's finding.
  if (ipv6(findings) || !mode || *mode >= 3 || (forced && forced->value == *mode)) {
    return std::nullopt;
  }
  // The older queriers the pass heard: one of them put the host there, or
  // keeps it there, as each of its queries starts the timeout again.
  std::vector<net::Address> oldQueriers;
  for (const QuerySpeaker& speaker : querySpeakers(findings)) {
    if (speaker.lowestVersion < 3) oldQueriers.push_back(speaker.address);
  }
  Finding finding{FindingId::HostIgmpCompatMode, Severity::Warning, {}, "RFC 9776 7.2.1, 8.12"};
  finding.evidence.add("interface", interfaceName(findings))
      .add("mode", *mode)
      .add("old_queriers", oldQueriers);
  return finding;
}

std::optional<Finding> findHostDropsBeacon(const PassFindings& findings, Held /*held*/) {
  const std::string link = interfaceName(findings);
  const auto& filter = findings.hostState.reversePathFilter;
  // IPv6 has no rp_filter of its own: its drops stay of unknown cause.
  // 1 is strict, 2 loose (RFC 3704 2.2, 2.4).
  const int filterMode = !ipv6(findings) && filter ? filter->value : 0;
  EvidenceList beacons;
  bool byReversePath = false;
  for (const auto& [id, name] : {std::pair{TestId::AsmBeacon, "ASM"}, {TestId::SsmBeacon, "SSM"}}) {
    const auto& beacon = findings.details<BeaconDetails>(id);
    if (!droppedByHost(beacon)) continue;
    std::optional<std::string> routeInterface;
    bool noRoute = false;
    std::int64_t onLink = beacon.unlistedLinkDatagrams;
    std::vector<net::Address> senders;
    for (const LinkSender& sender : *beacon.onLink) {
      if (sender.routeInterfaces) {
        const auto& via = *sender.routeInterfaces;
        // Strict filtering accepts a route with any of its next hops on the link.
        if (via.empty()) {
          noRoute = true;
        } else if (std::find(via.begin(), via.end(), link) == via.end()) {
          routeInterface = via.front();
        }
      }
      onLink += sender.datagrams;
      senders.push_back(sender.address);
    }
    // Strict filtering drops what would be routed back by another
    // interface; both modes drop what no route leads back to.
    const bool filtered =
        (filterMode == 1 && (routeInterface || noRoute)) || (filterMode == 2 && noRoute);
    byReversePath = byReversePath || filtered;
    Evidence item;
    item.add("beacon", name)
        .add("group", beacon.group)
        .add("port", beacon.port)
        .add("source", beacon.source)
        .add("senders", senders)
        .add("datagrams_on_link", onLink)
        .add("datagrams_received", 0)
        .add("cause", filtered ? "rp_filter" : "unknown");
    if (routeInterface) {
      item.add("route_interface", *routeInterface);
    } else if (noRoute) {
      item.add("no_route", true);
    }
    beacons.emplace_back(std::move(item));
  }
  if (beacons.empty()) return std::nullopt;
  Finding finding{
      FindingId::HostDropsBeacon, Severity::Problem, {}, byReversePath ? "RFC 3704 2.2" : ""};
  finding.evidence.add("interface", link).add("beacons", std::move(beacons));
  if (filter && !ipv6(findings)) {
    finding.evidence.add("rp_filter",
                         Evidence().add("setting", filter->name).add("value", filter->value));
  }
  return finding;
}

std::optional<Finding> findBeaconTtl(const PassFindings& findings, Held /*held*/) {
  EvidenceList beacons;
  for (const auto& [id, name] : {std::pair{TestId::AsmBeacon, "ASM"}, {TestId::SsmBeacon, "SSM"}}) {
    const auto& beacon = findings.details<BeaconDetails>(id);
    if (beacon.members.empty() || !beacon.onLink || beacon.onLink->empty()) continue;
    std::uint8_t lowest = 255;
    for (const LinkSender& sender : *beacon.onLink) lowest = std::min(lowest, sender.lowestTtl);
    beacons.emplace_back(Evidence()
                             .add("beacon", name)
                             .add("group", beacon.group)
                             .add("port", beacon.port)
                             .add("lowest_ttl", lowest));
  }
  if (beacons.empty()) return std::nullopt;
  Finding finding{FindingId::BeaconTtl, Severity::Info, {}, ""};
  finding.evidence.add("beacons", std::move(beacons));
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// Routers that answered the ping of the all-PIM-routers group and sent no
// Hello in the test's window: PIM routers all the same, whose Hellos come
// later than the window (a long Hello period, a late triggered Hello), and
// any of them may win the election the heard ones seem to.
std::vector<net::Address> unheardPimRouters(const PassFindings& findings) {
  std::vector<net::Address> unheard;
  if (!findings.ranCleanly(TestId::PimRoutersPing)) return unheard;
  const auto& hellos = findings.details<PimDetails>(TestId::PimHello).hellos;
  for (const EchoReply& reply : findings.details<PingDetails>(TestId::PimRoutersPing).replies) {
    if (std::none_of(hellos.begin(), hellos.end(),
                     [&](const NeighbourHello& hello) { return hello.sender == reply.from; })) {
      unheard.push_back(reply.from);
    }
  }
  std::sort(unheard.begin(), unheard.end());
  unheard.erase(std::unique(unheard.begin(), unheard.end()), unheard.end());
  return unheard;
}

std::optional<Finding> findDesignatedRouter(const PassFindings& findings, Held /*held*/) {
  const auto dr = designatedRouterOf(findings);
  if (!dr) return std::nullopt;
  EvidenceList neighbours;
  for (const NeighbourHello& hello : dr->neighbours) {
    neighbours.emplace_back(
        Evidence().add("address", hello.sender).add("dr_priority", hello.options.drPriority));
  }
  Finding finding{FindingId::PimDr, Severity::Info, {}, "RFC 7761 4.3.2"};
  // Where a neighbour sent no priority, the addresses decided: the DR's own
  // priority then explains nothing.
  finding.evidence.add("address", dr->address)
      .add("dr_priority", dr->byPriority ? dr->priority : std::nullopt)
      .add("elected_by", dr->byPriority ? "dr_priority" : "address")
      .add("neighbours", std::move(neighbours))
      .add("window_s", battery::kPimListeningMs / 1000);
  // Only where there are such routers: the JSON of a link whose routers
  // all said Hello stays as it always was.
  if (const auto unheard = unheardPimRouters(findings); !unheard.empty()) {
    finding.evidence.add("unheard_repliers", unheard);
  }
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

constexpr std::array<TestId, 3> kRouterPings{TestId::AllRoutersPing, TestId::SsmRoutersPing,
                                             TestId::PimRoutersPing};

// The ping's replies reached the interface, and its socket took none.
bool repliesDropped(const PingDetails& ping) {
  return ping.replies.empty() && ping.repliesOnLink.value_or(0) > 0;
}

std::optional<Finding> findIgnoredPings(const PassFindings& findings, Held /*held*/) {
  for (const TestId id : kRouterPings) {
    if (!findings.ranCleanly(id) || !findings.details<PingDetails>(id).replies.empty()) {
      return std::nullopt;
    }
    // A router whose replies the host dropped answered after all.
    if (repliesDropped(findings.details<PingDetails>(id))) return std::nullopt;
  }
  std::optional<net::Address> router;
  if (const auto querier = querierOf(findings); querier && canBeElected(querier->address)) {
    router = querier->address;
  } else if (const auto dr = designatedRouterOf(findings)) {
    router = dr->address;
  }
  if (!router) return std::nullopt;
  Finding finding{FindingId::RouterIgnoresPings, Severity::Info, {}, ""};
  finding.evidence.add("address", *router);
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// A group the host held through another socket got no leave (BLOCK) from the
// tool, so the router had nothing to answer with a group query.
std::optional<Finding> findWithheldLeave(const PassFindings& findings, Held /*held*/) {
  for (const TestId id : {TestId::AnySourceMembership, TestId::SourceMembership}) {
    const auto& membership = findings.details<MembershipDetails>(id);
    if (!membership.leaveWithheld) continue;
    Finding finding{FindingId::LeaveWithheld, Severity::Info, {}, ""};
    finding.evidence.add("group", membership.group)
        .add("interface", interfaceName(findings))
        // What was withheld: a BLOCK of the source, or a leave.
        .add("source_specific", id == TestId::SourceMembership, Shown::SentenceOnly);
    return finding;
  }
  return std::nullopt;
}

// The host routes multicast itself: its own queries and Hellos never come
// back to its tests, so what they find of the link's routers is not what
// its other hosts see.
std::optional<Finding> findHostIsRouter(const PassFindings& findings, Held /*held*/) {
  const auto& forwarding = ipv6(findings) ? findings.hostState.multicastForwardingV6
                                          : findings.hostState.multicastForwarding;
  if (!forwarding) return std::nullopt;
  Finding finding{FindingId::HostIsRouter, Severity::Warning, {}, ""};
  finding.evidence.add("setting", forwarding->name).add("value", forwarding->value);
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// The TTL (hop limit) at or under which one more router ends a beacon.
constexpr std::uint8_t kLowBeaconTtl = 2;

std::optional<Finding> findBeaconTtlLow(const PassFindings& findings, Held /*held*/) {
  EvidenceList beacons;
  for (const auto& [id, name] : {std::pair{TestId::AsmBeacon, "ASM"}, {TestId::SsmBeacon, "SSM"}}) {
    const auto& beacon = findings.details<BeaconDetails>(id);
    if (!beacon.onLink || beacon.onLink->empty()) continue;
    // The capture saw it whether the socket took it or not.
    const auto lowest = std::min_element(
        beacon.onLink->begin(), beacon.onLink->end(),
        [](const LinkSender& a, const LinkSender& b) { return a.lowestTtl < b.lowestTtl; });
    if (lowest->lowestTtl > kLowBeaconTtl) continue;
    beacons.emplace_back(Evidence()
                             .add("beacon", name)
                             .add("group", beacon.group)
                             .add("port", beacon.port)
                             .add("sender", lowest->address)
                             .add("lowest_ttl", lowest->lowestTtl));
  }
  if (beacons.empty()) return std::nullopt;
  Finding finding{FindingId::BeaconTtlLow, Severity::Warning, {}, ""};
  finding.evidence.add("beacons", std::move(beacons));
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// All PIM routers answered the ping, yet none sent a Hello: PIM runs there
// passive on this interface, as is usual toward a link of hosts.
std::optional<Finding> findPimPassive(const PassFindings& findings, Held /*held*/) {
  if (!findings.ranCleanly(TestId::PimRoutersPing) || !findings.ranCleanly(TestId::PimHello)) {
    return std::nullopt;
  }
  const auto& ping = findings.details<PingDetails>(TestId::PimRoutersPing);
  const auto& pim = findings.details<PimDetails>(TestId::PimHello);
  if (ping.replies.empty() || !pim.hellos.empty() || pim.unlistedHellos != 0) return std::nullopt;
  std::vector<net::Address> repliers;
  for (const EchoReply& reply : ping.replies) repliers.push_back(reply.from);
  std::sort(repliers.begin(), repliers.end());
  repliers.erase(std::unique(repliers.begin(), repliers.end()), repliers.end());
  Finding finding{FindingId::PimPassive, Severity::Info, {}, "RFC 7761 4.3.1"};
  finding.evidence.add("group", ping.group)
      .add("repliers", repliers)
      .add("window_s", battery::kPimListeningMs / 1000);
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// A neighbour whose Generation ID differs from the one it sent in the
// run's previous pass has restarted PIM on the link since (RFC 7761 4.3.1).
std::optional<Finding> findPimNeighbourRestarted(const PassFindings& findings, Held /*held*/) {
  if (!findings.previousHellos) return std::nullopt;
  EvidenceList restarted;
  for (const NeighbourHello& hello : findings.details<PimDetails>(TestId::PimHello).hellos) {
    const auto before = std::find_if(
        findings.previousHellos->begin(), findings.previousHellos->end(),
        [&](const NeighbourHello& previous) { return previous.sender == hello.sender; });
    if (before == findings.previousHellos->end() || !before->options.generationId ||
        !hello.options.generationId ||
        *before->options.generationId == *hello.options.generationId) {
      continue;
    }
    restarted.emplace_back(Evidence()
                               .add("address", hello.sender)
                               .add("previous_generation_id", *before->options.generationId)
                               .add("generation_id", *hello.options.generationId));
  }
  if (restarted.empty()) return std::nullopt;
  Finding finding{FindingId::PimNeighbourRestarted, Severity::Warning, {}, "RFC 7761 4.3.1"};
  finding.evidence.add("neighbours", std::move(restarted));
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// A neighbour that fell silent for longer than its own Hello's holdtime:
// the routers of the link dropped it before its next Hello, whatever its
// Hello period (RFC 7761 4.3.1 wants 3.5 x that period).
std::optional<Finding> findPimHoldtime(const PassFindings& findings, Held /*held*/) {
  EvidenceList lapsed;
  for (const NeighbourHello& hello : findings.details<PimDetails>(TestId::PimHello).hellos) {
    if (!hello.lapse) continue;
    lapsed.emplace_back(Evidence()
                            .add("address", hello.sender)
                            .add("holdtime_s", hello.lapse->holdtimeSeconds)
                            .add("silence_ms", hello.lapse->silenceMs));
  }
  if (lapsed.empty()) return std::nullopt;
  Finding finding{FindingId::PimHoldtime, Severity::Warning, {}, "RFC 7761 4.3.1, 4.11"};
  finding.evidence.add("neighbours", std::move(lapsed));
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// Echo replies to a group ping come from the router's unicast address, so
// connection tracking matches them to no request and marks them invalid;
// ufw's and firewalld's `ct state invalid drop` then drops them before any
// socket. A capture of the interface still sees them.
std::optional<Finding> findDroppedReplies(const PassFindings& findings, Held /*held*/) {
  EvidenceList pings;
  for (const TestId id : kRouterPings) {
    const auto& ping = findings.details<PingDetails>(id);
    if (!findings.ranCleanly(id) || !repliesDropped(ping)) continue;
    pings.emplace_back(
        Evidence().add("group", ping.group).add("replies_on_link", *ping.repliesOnLink));
  }
  if (pings.empty()) return std::nullopt;
  Finding finding{FindingId::HostDropsReplies, Severity::Problem, {}, ""};
  finding.evidence.add("interface", interfaceName(findings)).add("pings", std::move(pings));
  return finding;
}

// Hosts fall back to the oldest version they hear queried, whoever queries:
// Linux for any IGMPv1 or v2 query, from 0.0.0.0 too. MLD hosts discard a
// query from a source that is not link-local, so only those count there.
// The elected querier's own old version is querier-old-version's; this
// names the others, so no source is told twice.
std::optional<Finding> findOldVersionQuery(const PassFindings& findings, Held /*held*/) {
  std::optional<net::Address> toldAlready;
  if (const auto querier = querierOf(findings);
      querier && canBeElected(querier->address) && querier->version < sourceVersion(findings)) {
    toldAlready = querier->address;
  }
  EvidenceList queriers;
  for (const QuerySpeaker& speaker : querySpeakers(findings)) {
    if (speaker.lowestVersion >= sourceVersion(findings) || speaker.address == toldAlready ||
        (ipv6(findings) && !speaker.address.isLinkLocal())) {
      continue;
    }
    queriers.emplace_back(
        Evidence().add("address", speaker.address).add("version", speaker.lowestVersion));
  }
  if (queriers.empty()) return std::nullopt;
  Finding finding{FindingId::OldVersionQuery,
                  Severity::Problem,
                  {},
                  ipv6(findings) ? "RFC 9777 8.2.1, 9.12" : "RFC 9776 7.2.1, 8.12"};
  finding.evidence.add("queriers", std::move(queriers));
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// General queries came, yet neither the leave of test 5 nor the BLOCK of
// test 6 drew a query for its group. The querier is there; something keeps
// it from answering the probe. A BLOCK counts only where the querier speaks
// the version that can answer one.
std::optional<Finding> findQuerierSilentToProbe(const PassFindings& findings, Held /*held*/) {
  const auto querier = querierOf(findings);
  if (!querier || !anyGeneralQuery(findings)) return std::nullopt;
  const bool leaveSent = probeSent(findings, TestId::AnySourceMembership);
  const bool blockSent =
      probeSent(findings, TestId::SourceMembership) && querier->version >= sourceVersion(findings);
  if (!leaveSent && !blockSent) return std::nullopt;
  if ((leaveSent && probeAnswer(findings, TestId::AnySourceMembership)) ||
      (blockSent && probeAnswer(findings, TestId::SourceMembership))) {
    return std::nullopt;
  }
  Finding finding{FindingId::QuerierSilentToProbe,
                  Severity::Warning,
                  {},
                  ipv6(findings) ? "RFC 2710 4, RFC 9777 7.4.2" : "RFC 2236 3, RFC 9776 4, 6.4.2"};
  finding.evidence.add("address", querier->address)
      .add("version", querier->version)
      .add("leave_unanswered", leaveSent)
      .add("block_unanswered", blockSent);
  addInterfaceForSentence(finding.evidence, findings);
  return finding;
}

// The querier answered test 5's leave with an IGMPv3 (MLDv2) query, so it
// speaks the version, but test 6's IGMPv3 (MLDv2) BLOCK drew nothing: its
// reports die between host and router, where a snooping switch sits. Only
// where the querier is a router the pass heard as one: a switch's own
// querier (a Linux bridge's answers a leave at once but a BLOCK late or not
// at all) leaves nothing in between to blame.
std::optional<Finding> findSnoopingDropsV3(const PassFindings& findings, Held held) {
  // The router's answer, whichever came first: a switch's own querier on
  // the link may answer the leave too, and sooner.
  std::optional<MembershipQuery> answer;
  const auto& leave = findings.details<MembershipDetails>(TestId::AnySourceMembership);
  for (const ObservedQuery& seen : leave.queries) {
    if (!seen.query.group.isUnspecified() && seen.query.group == leave.group &&
        seen.query.version >= sourceVersion(findings) &&
        heardAsRouter(findings, seen.query.sender)) {
      answer = seen.query;
      break;
    }
  }
  if (!answer || !probeSent(findings, TestId::SourceMembership) ||
      probeAnswer(findings, TestId::SourceMembership)) {
    return std::nullopt;
  }
  const bool explainsRow =
      std::any_of(held.begin(), held.end(), [](const HeldConclusion& conclusion) {
        return conclusion.rule->kind == ConclusionKind::PathSsmNotSetUp;
      });
  Finding finding{FindingId::SnoopingDropsIgmpv3, Severity::Problem, {}, "RFC 4541 2.1.1"};
  finding.evidence.add("address", answer->sender)
      .add("version", answer->version)
      .add("group", findings.details<MembershipDetails>(TestId::SourceMembership).group);
  addInterfaceForSentence(finding.evidence, findings);
  finding.evidence.add("explains_path_ssm_not_set_up", explainsRow, Shown::SentenceOnly);
  return finding;
}

constexpr std::array<DiagnosisRule, 25> kRules{{
    {FindingId::Querier, findQuerier},
    {FindingId::NoQuerier, findNoQuerier},
    {FindingId::QuerierOldVersion, findOldQuerier},
    {FindingId::MultipleQueriers, findMultipleQueriers},
    {FindingId::SwitchQuerier, findSwitchQuerier},
    {FindingId::MembershipInterval, findMembershipInterval},
    {FindingId::QueryOffSubnet, findQueryOffSubnet},
    {FindingId::QueryNotLinkLocal, findQueryNotLinkLocal},
    {FindingId::HostIgmpVersionForced, findForcedIgmpVersion},
    {FindingId::HostIgmpCompatMode, findCompatibilityMode},
    {FindingId::HostMldVersionForced, findForcedMldVersion},
    {FindingId::HostDropsBeacon, findHostDropsBeacon},
    {FindingId::BeaconTtl, findBeaconTtl},
    {FindingId::PimDr, findDesignatedRouter},
    {FindingId::RouterIgnoresPings, findIgnoredPings},
    {FindingId::LeaveWithheld, findWithheldLeave},
    {FindingId::HostIsRouter, findHostIsRouter},
    {FindingId::BeaconTtlLow, findBeaconTtlLow},
    {FindingId::PimPassive, findPimPassive},
    {FindingId::PimNeighbourRestarted, findPimNeighbourRestarted},
    {FindingId::PimHoldtime, findPimHoldtime},
    {FindingId::HostDropsReplies, findDroppedReplies},
    {FindingId::OldVersionQuery, findOldVersionQuery},
    {FindingId::QuerierSilentToProbe, findQuerierSilentToProbe},
    {FindingId::SnoopingDropsIgmpv3, findSnoopingDropsV3},
}};

}  // namespace

std::span<const DiagnosisRule> diagnosisRules() { return kRules; }

std::vector<Finding> diagnose(const PassFindings& findings, Held held) {
  std::vector<Finding> found;
  for (const DiagnosisRule& rule : kRules) {
    if (auto finding = rule.find(findings, held)) {
      // One id serves both families; the evidence says which.
      finding->evidence.add("family", ipv6(findings) ? "ipv6" : "ipv4");
      found.push_back(std::move(*finding));
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Finding& a, const Finding& b) { return a.severity < b.severity; });
  return found;
}
