#include "app/link_facts.h"

#include <algorithm>

std::vector<ObservedQuery> queriesOfPass(const PassFindings& findings) {
  std::vector<ObservedQuery> queries;
  if (findings.linkQueries) queries = findings.linkQueries->queries;
  for (const TestId id : {TestId::AnySourceMembership, TestId::SourceMembership}) {
    const auto& seen = findings.details<MembershipDetails>(id).queries;
    queries.insert(queries.end(), seen.begin(), seen.end());
  }
  return queries;
}

std::vector<net::Address> querySources(const PassFindings& findings) {
  std::vector<net::Address> sources;
  for (const ObservedQuery& seen : queriesOfPass(findings)) sources.push_back(seen.query.sender);
  std::sort(sources.begin(), sources.end());
  sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
  return sources;
}

std::vector<QuerySpeaker> querySpeakers(const PassFindings& findings) {
  std::vector<QuerySpeaker> speakers;
  for (const net::Address& source : querySources(findings)) speakers.push_back({source, 0, 0});
  for (const ObservedQuery& seen : queriesOfPass(findings)) {
    const auto speaker = std::lower_bound(
        speakers.begin(), speakers.end(), seen.query.sender,
        [](const QuerySpeaker& a, const net::Address& b) { return a.address < b; });
    const int version = seen.query.version;
    if (speaker->lowestVersion == 0 || version < speaker->lowestVersion) {
      speaker->lowestVersion = version;
    }
    speaker->highestVersion = std::max(speaker->highestVersion, version);
  }
  return speakers;
}

std::uint32_t queryWatchMs(const PassFindings& findings) {
  if (findings.linkQueries) return findings.linkQueries->watchedMs;
  std::uint32_t watched = 0;
  for (const TestId id : {TestId::AnySourceMembership, TestId::SourceMembership}) {
    if (const TestRecord* test = findings.find(id)) watched += test->durationMs;
  }
  return watched;
}

bool canBeElected(const net::Address& source) {
  return source.isV4() ? !source.isUnspecified() : source.isLinkLocal();
}

std::optional<net::Address> electedQuerier(const std::vector<net::Address>& sources) {
  for (const net::Address& source : sources) {
    if (canBeElected(source)) return source;
  }
  return std::nullopt;
}

std::optional<Querier> querierOf(const PassFindings& findings) {
  const auto queries = queriesOfPass(findings);
  std::optional<net::Address> chosen;
  // A router answers the host's own messages with queries for their group; where two
  // do, the lower address is the one the election makes the querier.
  for (const ObservedQuery& seen : queries) {
    const MembershipQuery& query = seen.query;
    if (!query.group.isUnspecified() && canBeElected(query.sender) &&
        (!chosen || query.sender < *chosen)) {
      chosen = query.sender;
    }
  }
  const auto sources = querySources(findings);
  if (!chosen) chosen = electedQuerier(sources);
  // A switch's 0.0.0.0 or ::, or an MLD query from a source no host accepts,
  // only when nothing else queried.
  if (!chosen && !sources.empty()) chosen = sources.front();
  if (!chosen) return std::nullopt;

  Querier querier;
  querier.address = *chosen;
  for (const ObservedQuery& seen : queries) {
    const MembershipQuery& query = seen.query;
    if (query.sender != querier.address) continue;
    querier.version = std::max(querier.version, query.version);
    querier.maxResponseMs = query.maxResponseMs;
    if (query.group.isUnspecified()) querier.queryResponseIntervalMs = query.maxResponseMs;
    if (query.robustness && *query.robustness != 0) querier.robustness = query.robustness;
    if (query.queryIntervalSeconds && *query.queryIntervalSeconds != 0) {
      querier.queryIntervalSeconds = query.queryIntervalSeconds;
    }
  }
  if (querier.robustness && querier.queryIntervalSeconds) {
    querier.membershipIntervalMs =
        std::uint64_t{*querier.robustness} * *querier.queryIntervalSeconds * 1000U +
        querier.queryResponseIntervalMs.value_or(kDefaultQueryResponseIntervalMs);
  }
  return querier;
}

std::optional<DesignatedRouter> designatedRouterOf(const PassFindings& findings) {
  const auto& hellos = findings.details<PimDetails>(TestId::PimHello).hellos;
  if (hellos.empty()) return std::nullopt;
  const bool everyOneHasAPriority =
      std::all_of(hellos.begin(), hellos.end(),
                  [](const NeighbourHello& hello) { return hello.options.drPriority.has_value(); });
  const auto better = [&](const NeighbourHello& a, const NeighbourHello& b) {
    if (everyOneHasAPriority && *a.options.drPriority != *b.options.drPriority) {
      return *a.options.drPriority > *b.options.drPriority;
    }
    return b.sender < a.sender;
  };
  const NeighbourHello& elected = *std::min_element(hellos.begin(), hellos.end(), better);
  return DesignatedRouter{elected.sender, elected.options.drPriority, everyOneHasAPriority, hellos};
}
