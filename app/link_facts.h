// What the queries and Hellos of a pass say about the link's routers: who is
// the IGMP querier and with what timers, and who is the PIM designated
// router. Pure functions of the findings, read by the diagnosis and the
// metrics alike.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "app/findings.h"

struct Querier {
  net::Address address;
  // The highest IGMP (1 to 3) or MLD (1, 2) version its queries showed.
  int version = 0;
  // From its IGMPv3 queries (RFC 3376 4.1.6, 4.1.7); nothing from an older
  // one, or where it told none (QRV 0).
  std::optional<std::uint8_t> robustness;
  std::optional<std::uint32_t> queryIntervalSeconds;
  // From its last query.
  std::uint32_t maxResponseMs = 0;
  // The Max Response Time of its general queries (the Query Response
  // Interval); nothing when none of them came during the tests.
  std::optional<std::uint32_t> queryResponseIntervalMs;
  // Robustness x query interval + query response interval (RFC 3376 8.4),
  // in milliseconds, MLD's Multicast Address Listening Interval likewise
  // (RFC 3810 9.4): how long a group lives without a report. Without a
  // general query the response interval is the default, 10 s in both.
  std::optional<std::uint64_t> membershipIntervalMs;
};

inline constexpr std::uint32_t kDefaultQueryResponseIntervalMs = 10000;

// Every query the pass saw: those the whole-pass capture kept, where it ran,
// then those of tests 5 and 6, each in the order seen. The capture holds
// tests 5 and 6's too; a query counted twice changes no source, version or
// timer, and the tests' come last so that a querier's last query is the one
// that answered the probe.
std::vector<ObservedQuery> queriesOfPass(const PassFindings& findings);

// The versions one source's queries showed: an IGMPv3 router that falls
// back sends IGMPv2 queries too, and any older one moves the hosts.
struct QuerySpeaker {
  net::Address address;
  int lowestVersion = 0;
  int highestVersion = 0;
};

// Each source of the queries seen, in byte order of the addresses.
std::vector<QuerySpeaker> querySpeakers(const PassFindings& findings);

// How long the pass watched for queries, in milliseconds: the whole-pass
// capture's time where it ran, else tests 5 and 6's together.
std::uint32_t queryWatchMs(const PassFindings& findings);

// The querier of the link: the sender of the queries for a group (the one
// that answered the host's own messages; the lowest, as the election has it,
// where several did), else the lowest source of the
// general queries; a querier that sends from 0.0.0.0 or :: (a switch's), or
// an MLD querier from a source that is not link-local, only when nothing
// else queried. Nothing when no query was seen.
std::optional<Querier> querierOf(const PassFindings& findings);

// The distinct sources of the queries seen, in byte order of the addresses.
std::vector<net::Address> querySources(const PassFindings& findings);

// A source the querier election counts: an IPv4 address other than
// 0.0.0.0; on IPv6 only a link-local one, as hosts and routers discard MLD
// queries from any other (RFC 3810 5.1.14).
bool canBeElected(const net::Address& source);
// The lowest source the election counts, of `sources` in byte order: the
// querier by RFC 3376 6.6.2 and RFC 3810 7.6.2.
std::optional<net::Address> electedQuerier(const std::vector<net::Address>& sources);

struct DesignatedRouter {
  net::Address address;
  std::optional<std::uint32_t> priority;
  // The priorities decided, not the addresses: every neighbour sent one,
  // and the DR's was the highest.
  bool byPriority = false;
  // Every neighbour heard, the DR included.
  std::vector<NeighbourHello> neighbours;
};

// The link's DR among the neighbours heard, by RFC 7761 4.3.2: the highest
// DR priority when every neighbour sends one, else the highest address (a
// tie in priority also goes to the highest address). Nothing without Hellos.
std::optional<DesignatedRouter> designatedRouterOf(const PassFindings& findings);
