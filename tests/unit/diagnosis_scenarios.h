// Passes the diagnosis tests run: scripted IPv4 passes through the lab
// network, IPv6 passes from records filled by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "app/findings.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace testing_support {

inline const net::Address kSecondRouter = *net::Address::parseV4("10.0.1.3");

inline PassFindings passOn(ScriptedNetwork& network, const PassSetup& setup = labSetup()) {
  PassObserver quiet;
  PassFindings findings;
  runPassInto(network, setup, quiet, findings);
  return findings;
}

// Answers each leave and BLOCK with `query(group, source)` 4 ms later.
inline void answerReportsWith(ScriptedNetwork& network,
                              std::function<std::vector<std::uint8_t>(
                                  const net::Address&, const std::optional<net::Address>&)>
                                  query) {
  network.scripts[SocketKind::IgmpCapture].replies = [query](std::span<const std::uint8_t> sent,
                                                             const net::Endpoint&) {
    std::vector<Arrival> answers;
    if (sent[0] == 0x17) {
      answers.push_back(Arrival{query(*net::Address::fromBytes(sent.subspan(4, 4)), std::nullopt),
                                {kLabRouter, 0},
                                milliseconds(4)});
    }
    if (sent[0] == 0x22 && sent[8] == 6) {
      answers.push_back(Arrival{query(*net::Address::fromBytes(sent.subspan(12, 4)),
                                      *net::Address::fromBytes(sent.subspan(16, 4))),
                                {kLabRouter, 0},
                                milliseconds(4)});
    }
    return answers;
  };
}

// Makes the IGMP checksum of a query built by igmpV3Query good again after a field of
// it changed (the message follows a 24-byte IP header: 20 and the Router Alert).
inline void resumIgmpQuery(std::vector<std::uint8_t>& datagram) {
  datagram[24 + 2] = 0;
  datagram[24 + 3] = 0;
  const std::vector<std::uint8_t> igmp(datagram.begin() + 24, datagram.end());
  const auto summed = withChecksum(igmp);
  std::copy(summed.begin(), summed.end(), datagram.begin() + 24);
}

// An IGMPv3 query whose QQIC stands for `intervalCode`.
inline std::vector<std::uint8_t> queryWithInterval(const net::Address& querier,
                                                   const net::Address& group,
                                                   std::uint8_t intervalCode) {
  auto datagram = igmpV3Query(querier, group);
  datagram[24 + 9] = intervalCode;
  resumIgmpQuery(datagram);
  return datagram;
}

// The full lab, whose beacons reach the link but not the test's sockets.
inline void installLabThatDropsBeacons(ScriptedNetwork& network) {
  ScriptedLab{}.install(network);
  network.scripts[SocketKind::Receiver].arrivals.clear();
}

// A general query as the whole-pass capture keeps it.
inline ObservedQuery generalQuery(const net::Address& sender, int version, double sinceMs = 1000) {
  MembershipQuery query;
  query.sender = sender;
  query.version = version;
  query.group = net::anyAddress(sender.family());
  query.maxResponseMs = 10000;
  if (version == 3 || (!sender.isV4() && version == 2)) {
    query.robustness = 2;
    query.queryIntervalSeconds = 125;
  }
  return ObservedQuery{query, sinceMs};
}

inline PassFindings withLinkQueries(PassFindings findings, std::vector<ObservedQuery> queries,
                                    std::uint32_t watchedMs = 30000) {
  findings.linkQueries = LinkQueries{std::move(queries), 0, watchedMs};
  return findings;
}

inline const net::Address kSwitchQuerier = net::anyAddress(net::Family::V4);

// The lab, but the router answers the leave and never the BLOCK: what a
// switch that drops IGMPv3 reports leaves of the exchange.
inline void answerOnlyTheLeave(ScriptedNetwork& network, int version) {
  network.scripts[SocketKind::IgmpCapture].replies = [version](std::span<const std::uint8_t> sent,
                                                               const net::Endpoint&) {
    std::vector<Arrival> answers;
    if (sent[0] == 0x17) {
      const net::Address group = *net::Address::fromBytes(sent.subspan(4, 4));
      answers.push_back(
          Arrival{version == 3 ? igmpV3Query(kLabRouter, group) : igmpV2Query(kLabRouter, group),
                  {kLabRouter, 0},
                  milliseconds(4)});
    }
    return answers;
  };
}

// IPv6 passes, from their records as the battery fills them.
inline const net::Address kRouter6 = *net::Address::parseV6("fe80::1");

inline MembershipQuery mldQuery(const net::Address& sender, int version, const char* group = "::") {
  MembershipQuery query;
  query.sender = sender;
  query.version = version;
  query.group = *net::Address::parseV6(group);
  query.maxResponseMs = 10000;
  if (version == 2) {
    query.robustness = 2;
    query.queryIntervalSeconds = 125;
  }
  return query;
}

// Every test of an IPv6 pass ran without error; the router at fe80::1
// answered the three pings and the Hello, and `queries` came in tests 5 and
// 6 (the MLDv2 ones in test 6, the others in test 5).
inline PassFindings ipv6Pass(const std::vector<MembershipQuery>& queries,
                             bool routerAnswers = true) {
  PassFindings findings = freshFindings(net::Family::V6);
  findings.link =
      net::LinkInterface{"eth0", kLabInterfaceIndex, kRouter6, net::ChosenBy::Option, 64};
  for (TestRecord& record : findings.tests) record.ran = true;
  findings.find(TestId::AsmBeacon)->details.emplace<BeaconDetails>();
  findings.find(TestId::SsmBeacon)->details.emplace<BeaconDetails>();
  for (const TestId id : {TestId::AllRoutersPing, TestId::SsmRoutersPing, TestId::PimRoutersPing}) {
    auto& ping = findings.find(id)->details.emplace<PingDetails>();
    if (routerAnswers) ping.replies.push_back(EchoReply{kRouter6, 0.4});
  }
  auto& v1 = findings.find(TestId::AnySourceMembership)->details.emplace<MembershipDetails>();
  auto& v2 = findings.find(TestId::SourceMembership)->details.emplace<MembershipDetails>();
  for (const MembershipQuery& query : queries) {
    auto& details = query.version == 2 ? v2 : v1;
    // A query for a group answers the test's leave or BLOCK of it.
    if (!query.group.isUnspecified()) details.group = query.group;
    details.queries.push_back(ObservedQuery{query, 4});
    if (query.version == 2 || &details == &v1) details.sawQueryForGroup = true;
  }
  auto& pim = findings.find(TestId::PimHello)->details.emplace<PimDetails>();
  pim.hellos.push_back(NeighbourHello{kRouter6, HelloOptions{105, 1, 7}});
  return findings;
}

}  // namespace testing_support
