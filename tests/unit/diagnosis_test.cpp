// The diagnosis from whole scripted passes: which findings a link gives, in
// which order, with which evidence.
#include "app/diagnosis.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/battery.h"
#include "app/conclusions.h"
#include "app/finding_json.h"
#include "app/finding_text.h"
#include "app/link_facts.h"
#include "app/text_output.h"
#include "tests/unit/diagnosis_scenarios.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace {

using namespace testing_support;
using Ids = std::vector<std::string>;

// The evidence as the JSON carries it, and the sentence: what a reader of
// either output sees.
nlohmann::ordered_json evidenceOf(const Finding& finding) {
  return findingJson(finding)["evidence"];
}

std::string sentenceOf(const Finding& finding) { return findingSentence(finding); }

Ids idsOf(const std::vector<Finding>& found) {
  Ids ids;
  for (const Finding& finding : found) ids.emplace_back(findingName(finding.id));
  return ids;
}

Finding only(const std::vector<Finding>& found, const std::string& id) {
  const auto match = std::find_if(found.begin(), found.end(), [&](const Finding& finding) {
    return findingName(finding.id) == id;
  });
  if (match == found.end()) throw std::runtime_error("no finding " + id);
  return *match;
}

TEST(Diagnosis, FullLabTellsTheQuerierTheDrAndTheBeaconsTtlAndNothingElse) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  const auto found = diagnosisOf(passOn(network));
  EXPECT_EQ(idsOf(found), (Ids{"querier", "beacon-ttl", "pim-dr"}));

  const Finding querier = only(found, "querier");
  EXPECT_EQ(querier.severity, Severity::Info);
  EXPECT_EQ(evidenceOf(querier)["address"], "10.0.1.1");
  EXPECT_EQ(evidenceOf(querier)["version"], 3);
  EXPECT_EQ(evidenceOf(querier)["robustness"], 2);
  EXPECT_EQ(evidenceOf(querier)["query_interval_s"], 125);
  // No general query came: the response interval is the default 10 s.
  EXPECT_EQ(evidenceOf(querier)["membership_interval_s"], 260.0);
  EXPECT_EQ(sentenceOf(querier),
            "The IGMP querier on eth0 is 10.0.1.1 (IGMPv3), robustness 2, query interval 125 s: "
            "a group it hears no report of lives 260 s on the link.");

  const Finding dr = only(found, "pim-dr");
  EXPECT_EQ(evidenceOf(dr)["address"], "10.0.1.1");
  EXPECT_EQ(evidenceOf(dr)["dr_priority"], 1);
  EXPECT_EQ(dr.reference, "RFC 7761 4.3.2");

  const Finding ttl = only(found, "beacon-ttl");
  ASSERT_EQ(evidenceOf(ttl)["beacons"].size(), 2U);
  EXPECT_EQ(evidenceOf(ttl)["beacons"][0]["lowest_ttl"], 15);
  EXPECT_EQ(evidenceOf(ttl)["beacons"][1]["group"], "232.64.133.120");
}

TEST(Diagnosis, SilentLinkHasNoQuerier) {
  ScriptedNetwork network;
  const auto found = diagnosisOf(passOn(network));
  ASSERT_EQ(idsOf(found), Ids{"no-querier"});
  EXPECT_EQ(found[0].severity, Severity::Warning);
  EXPECT_EQ(evidenceOf(found[0])["interface"], "eth0");
  EXPECT_NE(sentenceOf(found[0]).find("No IGMP query came on eth0"), std::string::npos);
}

TEST(Diagnosis, NoQuerierOnlyWhenBothIgmpTestsCouldListen) {
  ScriptedNetwork network;
  network.rawSocketsRefused = 1;
  EXPECT_EQ(idsOf(diagnosisOf(passOn(network))), Ids{});
}

TEST(Diagnosis, IgmpV2QuerierFailsTest6AndExplainsTheSwitchRow) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  answerReportsWith(network, [](const net::Address& group, const std::optional<net::Address>&) {
    return igmpV2Query(kLabRouter, group);
  });
  // Having heard its answer to test 5, the host speaks IGMPv2 for a while:
  // at test 2 it still spoke IGMPv3.
  network.hostEarlier = {net::HostMulticastState{}};
  network.host.igmpMode = 2;
  const PassFindings findings = passOn(network);

  EXPECT_EQ(findings.find(TestId::SourceMembership)->outcome, TestOutcome::Failed)
      << "an IGMPv2 query is no IGMPv3 answer";
  EXPECT_EQ(findings.find(TestId::AnySourceMembership)->outcome, TestOutcome::Succeeded);
  Ids conclusions;
  for (const auto& held : conclusionsThatHold(findings)) conclusions.emplace_back(held.rule->id);
  EXPECT_NE(std::find(conclusions.begin(), conclusions.end(), "path-ssm-not-setup"),
            conclusions.end());

  const auto found = diagnosisOf(findings);
  EXPECT_EQ(idsOf(found), (Ids{"querier-old-version", "host-igmp-compat-mode", "querier",
                               "beacon-ttl", "pim-dr"}));
  const Finding old = only(found, "querier-old-version");
  EXPECT_EQ(evidenceOf(old)["version"], 2);
  EXPECT_NE(sentenceOf(old).find("This, not a switch, is why"), std::string::npos);
  EXPECT_EQ(evidenceOf(only(found, "host-igmp-compat-mode"))["mode"], 2);
}

TEST(Diagnosis, LongMembershipIntervalWarnsOfTheSnoopingTimeout) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  // QQIC 0x90: (0 | 0x10) << 4 = 256 s, and 10 s to answer: 266 s between reports.
  answerReportsWith(network, [](const net::Address& group, const std::optional<net::Address>&) {
    return queryWithInterval(kLabRouter, group, 0x90);
  });
  const auto found = diagnosisOf(passOn(network));
  const Finding interval = only(found, "membership-interval");
  EXPECT_EQ(interval.severity, Severity::Warning);
  EXPECT_EQ(evidenceOf(interval)["query_interval_s"], 256);
  EXPECT_EQ(evidenceOf(interval)["membership_interval_s"], 522.0);
  EXPECT_NE(sentenceOf(interval).find("266 s apart"), std::string::npos);
}

TEST(Diagnosis, SwitchQuerierAloneMeansNoRouterQueries) {
  ScriptedNetwork network;
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV3Query(net::Address{}, net::Address{}), {net::Address{}, 0}, milliseconds(500)}};
  const auto found = diagnosisOf(passOn(network));
  EXPECT_EQ(idsOf(found), (Ids{"switch-querier", "querier-silent-to-probe", "querier"}));
  EXPECT_NE(sentenceOf(only(found, "switch-querier")).find("No router's query came in the"),
            std::string::npos);
}

TEST(Diagnosis, TwoQueriersAreNamedWithTheElectedOne) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV3Query(kSecondRouter, net::Address{}), {kSecondRouter, 0}, milliseconds(300)}};
  const auto found = diagnosisOf(passOn(network));
  const Finding multiple = only(found, "multiple-queriers");
  EXPECT_EQ(evidenceOf(multiple)["sources"], (nlohmann::ordered_json{"10.0.1.1", "10.0.1.3"}));
  EXPECT_EQ(evidenceOf(multiple)["elected"], "10.0.1.1");
  EXPECT_EQ(multiple.reference, "RFC 9776 6.6.2");
  // The router that answered the host's own messages is the querier.
  EXPECT_EQ(evidenceOf(only(found, "querier"))["address"], "10.0.1.1");
}

TEST(Diagnosis, OfTwoQueriersAnsweringTheHostTheLowerAddressIsTheQuerier) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  auto& capture = network.scripts[SocketKind::IgmpCapture];
  // A querier that cannot hear the router answers every leave before it does.
  capture.replies = [router = capture.replies](std::span<const std::uint8_t> sent,
                                               const net::Endpoint& destination) {
    auto answers = router(sent, destination);
    if (sent[0] == 0x17) {
      answers.push_back(
          Arrival{igmpV3Query(kSecondRouter, *net::Address::fromBytes(sent.subspan(4, 4))),
                  {kSecondRouter, 0},
                  milliseconds(1)});
    }
    return answers;
  };
  const auto found = diagnosisOf(passOn(network));
  EXPECT_EQ(evidenceOf(only(found, "multiple-queriers"))["elected"], "10.0.1.1");
  EXPECT_EQ(evidenceOf(only(found, "querier"))["address"], "10.0.1.1");
}

TEST(Diagnosis, QuerierOutsideTheSubnetIsNamed) {
  ScriptedNetwork network;
  const net::Address stranger = *net::Address::parseV4("192.0.2.1");
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV3Query(stranger, net::Address{}), {stranger, 0}, milliseconds(300)}};
  const Finding off = only(diagnosisOf(passOn(network)), "query-off-subnet");
  EXPECT_EQ(evidenceOf(off)["subnets"], (nlohmann::ordered_json{"10.0.1.0/24"}));
  EXPECT_EQ(evidenceOf(off)["addresses"], (nlohmann::ordered_json{"192.0.2.1"}));
}

TEST(Diagnosis, HostHeldToIgmpV2FailsSsmWithoutJoining) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  network.host.forcedIgmpVersion = net::KernelSetting{"net.ipv4.conf.eth0.force_igmp_version", 2};
  network.host.igmpMode = 2;
  const PassFindings findings = passOn(network);
  const auto found = diagnosisOf(findings);
  EXPECT_EQ(idsOf(found), (Ids{"host-igmp-version-forced", "querier", "beacon-ttl", "pim-dr"}))
      << "the mode the setting holds is no finding of its own";
  const Finding forced = found[0];
  EXPECT_EQ(forced.severity, Severity::Problem);
  EXPECT_EQ(evidenceOf(forced)["setting"], "net.ipv4.conf.eth0.force_igmp_version");
  EXPECT_EQ(evidenceOf(forced)["value"], 2);
  EXPECT_FALSE(flagsOf(findings).hostSsmCapable);
  EXPECT_FALSE(flagsOf(findings).ssmBeaconHeard);
}

TEST(Diagnosis, HostHeldToIgmpV3IsOnlyInformation) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  network.host.forcedIgmpVersion = net::KernelSetting{"net.ipv4.conf.all.force_igmp_version", 3};
  const auto found = diagnosisOf(passOn(network));
  EXPECT_EQ(only(found, "host-igmp-version-forced").severity, Severity::Info);
  EXPECT_TRUE(flagsOf(passOn(network)).hostSsmCapable);
}

TEST(Diagnosis, StrictReversePathFilterWithTheRouteElsewhereIsTheCause) {
  ScriptedNetwork network;
  installLabThatDropsBeacons(network);
  network.host.reversePathFilter = net::KernelSetting{"net.ipv4.conf.all.rp_filter", 1};
  network.routes[kLabBeaconSource] = {"eth1"};
  const PassFindings findings = passOn(network);

  const Finding dropped = only(diagnosisOf(findings), "host-drops-beacon");
  EXPECT_EQ(dropped.severity, Severity::Problem);
  ASSERT_EQ(evidenceOf(dropped)["beacons"].size(), 2U);
  const auto asmBeacon = evidenceOf(dropped)["beacons"][0];
  EXPECT_EQ(asmBeacon["group"], "233.4.200.19");
  EXPECT_EQ(asmBeacon["port"], 10002);
  EXPECT_EQ(asmBeacon["datagrams_on_link"], 20);
  EXPECT_EQ(asmBeacon["datagrams_received"], 0);
  EXPECT_EQ(asmBeacon["cause"], "rp_filter");
  EXPECT_EQ(asmBeacon["route_interface"], "eth1");
  EXPECT_EQ(evidenceOf(dropped)["beacons"][1]["source"], "198.51.100.20");
  EXPECT_EQ(dropped.reference, "RFC 3704 2.2");
  EXPECT_NE(sentenceOf(dropped).find("strict reverse-path filtering (net.ipv4.conf.all.rp_filter = "
                                     "1) drops them, as the route back to 198.51.100.20 leaves by "
                                     "eth1."),
            std::string::npos);

  // The report no longer blames the network beyond the router.
  for (const auto& held : conclusionsThatHold(findings)) {
    EXPECT_NE(held.rule->id, "path-asm-no-traffic");
    EXPECT_NE(held.rule->id, "path-ssm-no-traffic");
  }
}

TEST(Diagnosis, BeaconDroppedWithoutAReversePathReasonHasAnUnknownCause) {
  ScriptedNetwork network;
  installLabThatDropsBeacons(network);
  // Loose filtering drops nothing that has a route at all.
  network.host.reversePathFilter = net::KernelSetting{"net.ipv4.conf.eth0.rp_filter", 2};
  network.routes[kLabBeaconSource] = {"eth1"};
  const Finding dropped = only(diagnosisOf(passOn(network)), "host-drops-beacon");
  EXPECT_EQ(evidenceOf(dropped)["beacons"][0]["cause"], "unknown");
  EXPECT_EQ(dropped.reference, "");
  EXPECT_NE(sentenceOf(dropped).find("a firewall, for instance"), std::string::npos);
}

TEST(Diagnosis, BeaconNeverOnTheLinkKeepsTheReportsRowAndIsNoHostProblem) {
  ScriptedNetwork network;
  ScriptedLab lab;
  lab.beacons = false;
  lab.install(network);
  const PassFindings findings = passOn(network);
  Ids rows;
  for (const auto& held : conclusionsThatHold(findings)) rows.emplace_back(held.rule->id);
  EXPECT_NE(std::find(rows.begin(), rows.end(), "path-asm-no-traffic"), rows.end());
  EXPECT_EQ(idsOf(diagnosisOf(findings)), (Ids{"querier", "pim-dr"}));
}

TEST(Diagnosis, RouterThatIgnoresPingsIsNamed) {
  ScriptedNetwork network;
  ScriptedLab lab;
  lab.answersPings = false;
  lab.install(network);
  const Finding ignored = only(diagnosisOf(passOn(network)), "router-ignores-pings");
  EXPECT_EQ(ignored.severity, Severity::Info);
  EXPECT_EQ(evidenceOf(ignored)["address"], "10.0.1.1");
}

TEST(Diagnosis, RepliesTheHostsFirewallDropsBlameTheHostNotTheRouter) {
  ScriptedNetwork network;
  ScriptedLab lab;
  lab.firewallDropsReplies = true;
  lab.install(network);
  const PassFindings findings = passOn(network);
  EXPECT_EQ(findings.details<PingDetails>(TestId::AllRoutersPing).repliesOnLink, 1);
  const auto found = diagnosisOf(findings);
  EXPECT_EQ(idsOf(found), (Ids{"host-drops-replies", "querier", "beacon-ttl", "pim-dr"}))
      << "the router answered: it ignores no pings";
  const Finding dropped = only(found, "host-drops-replies");
  EXPECT_EQ(dropped.severity, Severity::Problem);
  EXPECT_EQ(evidenceOf(dropped)["pings"].size(), 3U);
  EXPECT_EQ(evidenceOf(dropped)["pings"][1]["group"], "224.0.0.22");
  EXPECT_EQ(evidenceOf(dropped)["pings"][1]["replies_on_link"], 1);
  EXPECT_NE(sentenceOf(dropped).find("224.0.0.2, 224.0.0.22 and 224.0.0.13 reached eth0 (3 "
                                     "replies)"),
            std::string::npos)
      << sentenceOf(dropped);

  // Replies to another program's pings on the link prove nothing about ours.
  ScriptedNetwork other;
  ScriptedLab quiet;
  quiet.answersPings = false;
  quiet.install(other);
  const auto foreign =
      echoRequest(static_cast<std::uint16_t>(echoIdentifier(net::processId()) + 1), 0);
  other.scripts[SocketKind::BeaconCapture].arrivals.push_back(
      Arrival{echoReplyTo(foreign, kLabRouter), {kLabRouter, 0}, milliseconds(1)});
  const PassFindings unanswered = passOn(other);
  EXPECT_EQ(unanswered.details<PingDetails>(TestId::SsmRoutersPing).repliesOnLink, 0);
  EXPECT_EQ(idsOf(diagnosisOf(unanswered)),
            (Ids{"querier", "beacon-ttl", "pim-dr", "router-ignores-pings"}));
}

TEST(Diagnosis, WithoutCaptureOrHostStateTheirFindingsAreLeftOut) {
  ScriptedNetwork network;
  installLabThatDropsBeacons(network);
  network.beaconCaptures = false;
  const PassFindings findings = passOn(network);
  EXPECT_FALSE(findings.details<BeaconDetails>(TestId::AsmBeacon).onLink.has_value());
  EXPECT_EQ(idsOf(diagnosisOf(findings)), (Ids{"querier", "pim-dr"}));
}

TEST(Diagnosis, EveryRuleHasItsOwnIdAndFindingsComeWorstFirst) {
  Ids ids;
  for (const DiagnosisRule& rule : diagnosisRules()) ids.emplace_back(findingName(rule.id));
  EXPECT_EQ(ids, (Ids{"querier",
                      "no-querier",
                      "querier-old-version",
                      "multiple-queriers",
                      "switch-querier",
                      "membership-interval",
                      "query-off-subnet",
                      "query-not-link-local",
                      "host-igmp-version-forced",
                      "host-igmp-compat-mode",
                      "host-mld-version-forced",
                      "host-drops-beacon",
                      "beacon-ttl",
                      "pim-dr",
                      "router-ignores-pings",
                      "leave-withheld",
                      "host-is-router",
                      "beacon-ttl-low",
                      "pim-passive",
                      "pim-neighbour-restarted",
                      "pim-holdtime",
                      "host-drops-replies",
                      "old-version-query",
                      "querier-silent-to-probe",
                      "snooping-drops-igmpv3"}));
  ScriptedNetwork network;
  installLabThatDropsBeacons(network);
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV3Query(kSecondRouter, net::Address{}), {kSecondRouter, 0}, milliseconds(300)}};
  const auto found = diagnosisOf(passOn(network));
  for (std::size_t i = 1; i < found.size(); ++i) {
    EXPECT_LE(found[i - 1].severity, found[i].severity) << findingName(found[i].id);
  }
}

TEST(Diagnosis, ExplainedTextFollowsTheReport) {
  ScriptedNetwork network;
  std::ostringstream out;
  TextOutput text(out, true);
  PassFindings findings;
  runPassInto(network, labSetup(), text, findings);
  const std::string printed = out.str();
  const auto report = printed.find("*     Multicast Corvanite Report        *");
  const auto diagnosis = printed.find("\nDiagnosis:\n  [warning] No IGMP query came on eth0");
  ASSERT_NE(report, std::string::npos);
  ASSERT_NE(diagnosis, std::string::npos);
  EXPECT_LT(report, diagnosis);

  std::ostringstream plain;
  TextOutput withoutExplain(plain);
  runPassInto(network, labSetup(), withoutExplain, findings);
  EXPECT_EQ(plain.str().find("Diagnosis:"), std::string::npos);
}

TEST(Ipv6Diagnosis, MldV2RouterIsTheQuerierAndTheDr) {
  const auto found = diagnosisOf(ipv6Pass({mldQuery(kRouter6, 2, "ff3e:20:2001:db8::19")}));
  EXPECT_EQ(idsOf(found), (Ids{"querier", "pim-dr"}));
  const Finding querier = found[0];
  EXPECT_EQ(sentenceOf(querier),
            "The MLD querier on eth0 is fe80::1 (MLDv2), robustness 2, query interval 125 s: a "
            "group it hears no report of lives 260 s on the link.");
  EXPECT_EQ(evidenceOf(querier)["version"], 2);
  EXPECT_EQ(evidenceOf(querier)["family"], "ipv6");
  EXPECT_EQ(querier.reference, "RFC 9777 5.1.8, 5.1.9, 9.4");
  EXPECT_EQ(evidenceOf(found[1])["address"], "fe80::1");
  EXPECT_EQ(evidenceOf(found[1])["family"], "ipv6");
}

TEST(Ipv6Diagnosis, MldV1OnlyQuerierExplainsTheSwitchRow) {
  PassFindings findings = ipv6Pass({mldQuery(kRouter6, 1, "ff3e:20:2001:db8::19")});
  Ids rows;
  for (const auto& held : conclusionsThatHold(findings)) rows.emplace_back(held.rule->id);
  ASSERT_NE(std::find(rows.begin(), rows.end(), "path-ssm-not-setup-ipv6"), rows.end());
  const auto found = diagnosisOf(findings);
  EXPECT_EQ(idsOf(found), (Ids{"querier-old-version", "querier", "pim-dr"}));
  const Finding old = found[0];
  EXPECT_EQ(old.severity, Severity::Problem);
  EXPECT_EQ(evidenceOf(old)["version"], 1);
  EXPECT_EQ(old.reference, "RFC 4604 2.2, RFC 9777 8.2.1");
  EXPECT_EQ(sentenceOf(old),
            "The querier fe80::1 on eth0 speaks MLDv1 only: it serves no source-specific join, "
            "and hosts that hear it fall back to MLDv1, so SSM cannot work on this link. This, "
            "not a switch, is why the report finds the path not set up for SSM.");
  EXPECT_EQ(only(found, "querier").reference, "RFC 2710 3");
}

TEST(Ipv6Diagnosis, QueriesFromAGlobalAddressAreNamedAndElectNobody) {
  // A Linux bridge's querier: general queries from its link-local address,
  // group-and-source ones from its global one.
  const net::Address bridge = *net::Address::parseV6("fe80::5");
  const net::Address global = *net::Address::parseV6("2001:db8:1::5");
  const auto found = diagnosisOf(ipv6Pass(
      {mldQuery(bridge, 2), mldQuery(global, 2, "ff3e::120"), mldQuery(global, 2, "ff3e::120")}));
  EXPECT_EQ(idsOf(found), (Ids{"query-not-link-local", "querier", "pim-dr"}))
      << "one switch's two addresses are not two queriers";
  const Finding stranger = found[0];
  EXPECT_EQ(stranger.severity, Severity::Warning);
  EXPECT_EQ(evidenceOf(stranger)["addresses"], (nlohmann::ordered_json{"2001:db8:1::5"}));
  EXPECT_EQ(stranger.reference, "RFC 9777 5.1.14");
  EXPECT_EQ(evidenceOf(only(found, "querier"))["address"], "fe80::5")
      << "the group query's global source is no querier";
}

TEST(Ipv6Diagnosis, LowestLinkLocalQuerierIsElected) {
  const net::Address higher = *net::Address::parseV6("fe80::9");
  const auto found = diagnosisOf(ipv6Pass({mldQuery(higher, 2), mldQuery(kRouter6, 2)}));
  const Finding multiple = only(found, "multiple-queriers");
  EXPECT_EQ(evidenceOf(multiple)["elected"], "fe80::1");
  EXPECT_EQ(multiple.reference, "RFC 9777 7.6.2");
  EXPECT_EQ(evidenceOf(only(found, "querier"))["address"], "fe80::1");
}

TEST(Ipv6Diagnosis, QuerierFromTheUnspecifiedAddressIsASwitchsThatHostsIgnore) {
  const auto found = diagnosisOf(ipv6Pass({mldQuery(net::anyAddress(net::Family::V6), 2)}));
  const Finding sw = only(found, "switch-querier");
  EXPECT_EQ(evidenceOf(sw)["source"], "::");
  EXPECT_NE(sentenceOf(sw).find("Hosts discard MLD queries from ::"), std::string::npos);
  EXPECT_NE(sentenceOf(sw).find("No router's query came during this pass"), std::string::npos);
  const Ids ids = idsOf(found);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "query-not-link-local"), 0);
}

TEST(Ipv6Diagnosis, SilentLinkHasNoMldQuerier) {
  const auto found = diagnosisOf(ipv6Pass({}));
  ASSERT_EQ(idsOf(found), (Ids{"no-querier", "pim-dr"}));
  EXPECT_NE(sentenceOf(found[0]).find("No MLD query came on eth0"), std::string::npos);
  EXPECT_EQ(found[0].reference, "RFC 4541 2.1.1, RFC 9777 9.2");
}

TEST(Ipv6Diagnosis, RouterThatIgnoresPingsNamesIpv6sSetting) {
  const Finding ignored = only(diagnosisOf(ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")}, false)),
                               "router-ignores-pings");
  EXPECT_EQ(evidenceOf(ignored)["address"], "fe80::1");
  EXPECT_NE(sentenceOf(ignored).find("runs MLD or PIM"), std::string::npos);
  EXPECT_NE(sentenceOf(ignored).find("net.ipv6.icmp.echo_ignore_multicast"), std::string::npos);
}

TEST(Ipv6Diagnosis, EachFamilyReportsOnlyItsOwnHostSettings) {
  PassFindings findings = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")});
  findings.hostState.forcedIgmpVersion =
      net::KernelSetting{"net.ipv4.conf.eth0.force_igmp_version", 2};
  findings.hostState.igmpMode = 2;
  findings.hostState.forcedMldVersion =
      net::KernelSetting{"net.ipv6.conf.all.force_mld_version", 1};
  const auto found = diagnosisOf(findings);
  EXPECT_EQ(idsOf(found), (Ids{"host-mld-version-forced", "querier", "pim-dr"}));
  EXPECT_EQ(found[0].severity, Severity::Problem);
  EXPECT_EQ(evidenceOf(found[0])["setting"], "net.ipv6.conf.all.force_mld_version");

  findings.hostState.forcedMldVersion->value = 2;
  EXPECT_EQ(only(diagnosisOf(findings), "host-mld-version-forced").severity, Severity::Info);

  PassFindings ipv4 = freshFindings();
  ipv4.hostState.forcedMldVersion = net::KernelSetting{"net.ipv6.conf.all.force_mld_version", 1};
  EXPECT_EQ(idsOf(diagnosisOf(ipv4)), Ids{});
}

TEST(DesignatedRouter, HighestPriorityWhenAllTellOneElseHighestAddress) {
  PassFindings findings = freshFindings();
  auto& pim = findings.find(TestId::PimHello)->details.emplace<PimDetails>();
  const auto hello = [](const char* address, std::optional<std::uint32_t> priority) {
    return NeighbourHello{*net::Address::parseV4(address), HelloOptions{105, priority, 1}};
  };
  pim.hellos = {hello("10.0.1.1", 5), hello("10.0.1.9", 1), hello("10.0.1.5", 5)};
  EXPECT_EQ(designatedRouterOf(findings)->address.toString(), "10.0.1.5")
      << "a tie in priority goes to the higher address";
  pim.hellos.push_back(hello("10.0.1.7", std::nullopt));
  EXPECT_EQ(designatedRouterOf(findings)->address.toString(), "10.0.1.9")
      << "one neighbour without a priority: the highest address";
  pim.hellos.clear();
  EXPECT_FALSE(designatedRouterOf(findings).has_value());
}

}  // namespace

namespace {

TEST(QuerierEvidence, SilenceIsAWarningOverTheTimeWatchedWithOrWithoutTheWholePassCapture) {
  ScriptedNetwork network;
  PassFindings tested = passOn(network);
  // Without the whole-pass capture, the windows of tests 5 and 6.
  tested.linkQueries.reset();
  const std::uint32_t testsWindows = tested.find(TestId::AnySourceMembership)->durationMs +
                                     tested.find(TestId::SourceMembership)->durationMs;
  for (const auto& [findings, watchedS] :
       {std::pair{tested, std::int64_t{testsWindows / 1000}},
        {withLinkQueries(tested, {}, 42300), std::int64_t{42}}}) {
    const auto found = diagnosisOf(findings);
    ASSERT_EQ(idsOf(found), Ids{"no-querier"});
    EXPECT_EQ(found[0].severity, Severity::Warning) << "silence proves no absence";
    // Whole seconds, so that two runs of one link say the same.
    EXPECT_EQ(evidenceOf(found[0])["watched_s"], watchedS);
    const std::string sentence = sentenceOf(found[0]);
    EXPECT_NE(sentence.find("No IGMP query came on eth0 in the"), std::string::npos) << sentence;
    EXPECT_NE(sentence.find("only a watch longer than that interval can"), std::string::npos);
    EXPECT_EQ(sentence.find("querier answered"), std::string::npos);
  }
  EXPECT_NE(sentenceOf(diagnosisOf(withLinkQueries(tested, {}, 42300))[0]).find("42 s watched"),
            std::string::npos);
}

TEST(QuerierEvidence, AGeneralQueryOutsideTests5And6ProvesAQuerierAndItsTimers) {
  ScriptedNetwork network;
  const auto found =
      diagnosisOf(withLinkQueries(passOn(network), {generalQuery(kLabRouter, 3, 61000)}));
  const Ids ids = idsOf(found);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "no-querier"), 0);
  const Finding querier = only(found, "querier");
  EXPECT_EQ(evidenceOf(querier)["address"], "10.0.1.1");
  EXPECT_EQ(evidenceOf(querier)["query_interval_s"], 125);
  EXPECT_EQ(evidenceOf(querier)["membership_interval_s"], 260.0);
  // It sends queries, but neither probe drew one.
  const Finding silent = only(found, "querier-silent-to-probe");
  EXPECT_EQ(silent.severity, Severity::Warning);
  EXPECT_EQ(evidenceOf(silent)["address"], "10.0.1.1");
  EXPECT_EQ(evidenceOf(silent)["leave_unanswered"], true);
  EXPECT_EQ(evidenceOf(silent)["block_unanswered"], true);
  const std::string sentence = sentenceOf(silent);
  for (const char* cause : {"immediate leave", "Router Alert", "access list", "proxying switch"}) {
    EXPECT_NE(sentence.find(cause), std::string::npos) << cause;
  }
}

TEST(QuerierEvidence, QuerierSilentToProbeOnlyWhenTheProbeWentAndNothingAnsweredIt) {
  // The lab answers both: nothing to say.
  ScriptedNetwork lab;
  ScriptedLab{}.install(lab);
  const PassFindings answered = passOn(lab);
  for (const PassFindings& findings :
       {answered, withLinkQueries(answered, {generalQuery(kLabRouter, 3)})}) {
    const Ids ids = idsOf(diagnosisOf(findings));
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "querier-silent-to-probe"), 0);
  }
  // A router whose IGMP answers nothing, heard only in its general queries;
  // with both leaves withheld no probe went, so its silence says nothing.
  ScriptedNetwork quiet;
  ScriptedLab withoutIgmp;
  withoutIgmp.igmp = false;
  withoutIgmp.install(quiet);
  const PassFindings heard = withLinkQueries(passOn(quiet), {generalQuery(kLabRouter, 3)});
  EXPECT_NO_THROW(only(diagnosisOf(heard), "querier-silent-to-probe"));
  PassFindings withheld = heard;
  for (const TestId id : {TestId::AnySourceMembership, TestId::SourceMembership}) {
    std::get<MembershipDetails>(withheld.find(id)->details).leaveWithheld = true;
  }
  const Ids ids = idsOf(diagnosisOf(withheld));
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "querier-silent-to-probe"), 0);
  // An IGMPv2 querier cannot answer a BLOCK: only its leave counts.
  const Finding v2 =
      only(diagnosisOf(withLinkQueries(passOn(quiet), {generalQuery(kLabRouter, 2)})),
           "querier-silent-to-probe");
  EXPECT_EQ(evidenceOf(v2)["block_unanswered"], false);
  EXPECT_NE(sentenceOf(v2).find("not the test's leave"), std::string::npos);
}

TEST(QuerierEvidence, SwitchQuerierAloneSaysOnlyThatNoRouterWasHeard) {
  ScriptedNetwork network;
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV3Query(kSwitchQuerier, net::Address{}), {kSwitchQuerier, 0}, milliseconds(500)}};
  const PassFindings findings = withLinkQueries(passOn(network), {}, 12000);
  const std::string sentence = sentenceOf(only(diagnosisOf(findings), "switch-querier"));
  EXPECT_EQ(sentence.find("No router queries this link"), std::string::npos);
  EXPECT_NE(sentence.find("No router's query came in the 12 s watched."), std::string::npos)
      << sentence;
}

TEST(QuerierEvidence, AnOldQueryFromAnySourceBreaksSsmAndIsToldOnce) {
  // A bridge's IGMPv2 querier at 0.0.0.0 beside the IGMPv3 router.
  ScriptedNetwork lab;
  ScriptedLab{}.install(lab);
  const auto found = diagnosisOf(withLinkQueries(passOn(lab), {generalQuery(kSwitchQuerier, 2)}));
  const Finding old = only(found, "old-version-query");
  EXPECT_EQ(old.severity, Severity::Problem);
  EXPECT_EQ(evidenceOf(old)["queriers"],
            (nlohmann::ordered_json::parse(R"([{"address":"0.0.0.0","version":2}])")));
  EXPECT_EQ(old.reference, "RFC 9776 7.2.1, 8.12");
  EXPECT_NE(sentenceOf(old).find("from 0.0.0.0 (IGMPv2, a snooping switch's querier)"),
            std::string::npos)
      << sentenceOf(old);
  const Ids ids = idsOf(found);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "querier-old-version"), 0)
      << "the elected querier speaks IGMPv3";
  EXPECT_EQ(evidenceOf(only(found, "querier"))["address"], "10.0.1.1");

  // The elected querier at IGMPv2 is querier-old-version's alone; a second
  // old querier is still named here.
  ScriptedNetwork v2;
  ScriptedLab{}.install(v2);
  answerOnlyTheLeave(v2, 2);
  const PassFindings oldRouter = passOn(v2);
  const Ids alone = idsOf(diagnosisOf(oldRouter));
  EXPECT_EQ(std::count(alone.begin(), alone.end(), "querier-old-version"), 1);
  EXPECT_EQ(std::count(alone.begin(), alone.end(), "old-version-query"), 0);
  const Finding both =
      only(diagnosisOf(withLinkQueries(oldRouter, {generalQuery(kSwitchQuerier, 1)})),
           "old-version-query");
  EXPECT_EQ(evidenceOf(both)["queriers"].size(), 1U);
  EXPECT_EQ(evidenceOf(both)["queriers"][0]["version"], 1);
}

TEST(QuerierEvidence, MldHostsHeedOldQueriesOnlyFromLinkLocalSources) {
  const net::Address bridge = *net::Address::parseV6("fe80::5");
  const auto found =
      diagnosisOf(ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120"),
                            mldQuery(net::anyAddress(net::Family::V6), 1), mldQuery(bridge, 1)}));
  const Finding old = only(found, "old-version-query");
  EXPECT_EQ(evidenceOf(old)["queriers"],
            (nlohmann::ordered_json::parse(R"([{"address":"fe80::5","version":1}])")));
  EXPECT_EQ(old.reference, "RFC 9777 8.2.1, 9.12");
  EXPECT_NE(sentenceOf(old).find("Queries older than MLDv2 reach eth0 from fe80::5 (MLDv1)"),
            std::string::npos)
      << sentenceOf(old);
}

TEST(QuerierEvidence, QueriersOfDifferentVersionsAreSaidToDiffer) {
  ScriptedNetwork lab;
  ScriptedLab{}.install(lab);
  const PassFindings findings = passOn(lab);
  const Finding same =
      only(diagnosisOf(withLinkQueries(findings, {generalQuery(kSecondRouter, 3)})),
           "multiple-queriers");
  EXPECT_EQ(evidenceOf(same)["versions"], (nlohmann::ordered_json{3, 3}));
  EXPECT_EQ(sentenceOf(same).find("different versions"), std::string::npos);
  const Finding differ =
      only(diagnosisOf(withLinkQueries(findings, {generalQuery(kSecondRouter, 2)})),
           "multiple-queriers");
  EXPECT_EQ(evidenceOf(differ)["versions"], (nlohmann::ordered_json{3, 2}));
  EXPECT_NE(sentenceOf(differ).find("different versions (10.0.1.1 IGMPv3, 10.0.1.3 IGMPv2)"),
            std::string::npos)
      << sentenceOf(differ);
}

TEST(QuerierEvidence, AnIgmpV3AnswerToTheLeaveAndNoneToTheBlockIsASwitchDroppingV3Reports) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  answerOnlyTheLeave(network, 3);
  const PassFindings findings = passOn(network);
  const auto found = diagnosisOf(findings);
  const Finding drops = only(found, "snooping-drops-igmpv3");
  EXPECT_EQ(drops.severity, Severity::Problem);
  EXPECT_EQ(evidenceOf(drops)["address"], "10.0.1.1");
  EXPECT_EQ(evidenceOf(drops)["group"],
            findings.details<MembershipDetails>(TestId::SourceMembership).group.toString());
  EXPECT_NE(sentenceOf(drops).find("the report's row on the SSM path"), std::string::npos)
      << sentenceOf(drops);
  const Ids ids = idsOf(found);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "querier-silent-to-probe"), 0);
  // The report's row itself stays.
  std::ostringstream text;
  printDiagnosis(text, reportBattery(findings));
  Ids conclusions;
  for (const auto& held : conclusionsThatHold(findings)) conclusions.emplace_back(held.rule->id);
  EXPECT_NE(std::find(conclusions.begin(), conclusions.end(), "path-ssm-not-setup"),
            conclusions.end());

  // A switch's querier that answered the leave first hides not the router's
  // answer behind it.
  PassFindings switchFirst = findings;
  auto& leave = std::get<MembershipDetails>(switchFirst.find(TestId::AnySourceMembership)->details);
  ASSERT_FALSE(leave.queries.empty());
  ObservedQuery bySwitchQuerier = leave.queries.front();
  bySwitchQuerier.query.sender = kSecondRouter;
  leave.queries.insert(leave.queries.begin(), bySwitchQuerier);
  EXPECT_EQ(evidenceOf(only(diagnosisOf(switchFirst), "snooping-drops-igmpv3"))["address"],
            "10.0.1.1");

  // A querier the pass never heard as a router (no Hello, no ping answered)
  // may be the snooping switch itself, which answers a leave at once and a
  // BLOCK late: nothing is proven to sit between.
  ScriptedNetwork switchOnly;
  answerOnlyTheLeave(switchOnly, 3);
  const Ids bySwitch = idsOf(diagnosisOf(passOn(switchOnly)));
  EXPECT_EQ(std::count(bySwitch.begin(), bySwitch.end(), "snooping-drops-igmpv3"), 0);

  // An IGMPv2 answer proves no IGMPv3 querier: that is querier-old-version's.
  ScriptedNetwork v2;
  ScriptedLab{}.install(v2);
  answerOnlyTheLeave(v2, 2);
  const Ids old = idsOf(diagnosisOf(passOn(v2)));
  EXPECT_EQ(std::count(old.begin(), old.end(), "snooping-drops-igmpv3"), 0);
}

TEST(QuerierEvidence, CompatibilityModeLastsTheOlderQuerierIntervalAndNamesTheQuerierHeard) {
  ScriptedNetwork lab;
  ScriptedLab{}.install(lab);
  lab.host.igmpMode = 2;
  const PassFindings findings = passOn(lab);
  const Finding unheard = only(diagnosisOf(findings), "host-igmp-compat-mode");
  EXPECT_NE(sentenceOf(unheard).find("none came during this pass"), std::string::npos);
  const Finding heard =
      only(diagnosisOf(withLinkQueries(findings, {generalQuery(kSwitchQuerier, 2)})),
           "host-igmp-compat-mode");
  EXPECT_EQ(evidenceOf(heard)["old_queriers"], (nlohmann::ordered_json{"0.0.0.0"}));
  const std::string sentence = sentenceOf(heard);
  EXPECT_NE(sentence.find("from 0.0.0.0"), std::string::npos);
  EXPECT_NE(sentence.find("260 s at the defaults"), std::string::npos);
  EXPECT_NE(sentence.find("each further old query starts that time again"), std::string::npos);
  EXPECT_EQ(sentence.find("400 s"), std::string::npos);
}

// QRV and QQIC of an IGMPv3 query, its checksum made good again.
std::vector<std::uint8_t> queryWithTimers(const net::Address& group, std::uint8_t robustness,
                                          std::uint8_t intervalCode) {
  auto datagram = queryWithInterval(kLabRouter, group, intervalCode);
  datagram[24 + 8] = static_cast<std::uint8_t>((datagram[24 + 8] & 0xF8U) | robustness);
  resumIgmpQuery(datagram);
  return datagram;
}

TEST(QuerierEvidence, MembershipIntervalFlagsOnlyAReportGapBeyondTheSnoopingTimeout) {
  struct Case {
    std::uint8_t robustness;
    std::uint8_t intervalCode;
    bool flagged;
  };
  // Robustness 3 at 125 s (385 s) and a 200 s interval are harmless: reports
  // come 135 s and 210 s apart. A 256 s interval leaves 266 s between them.
  for (const Case& each : {Case{3, 125, false}, Case{2, 0x89, false}, Case{2, 0x90, true}}) {
    ScriptedNetwork network;
    ScriptedLab{}.install(network);
    answerReportsWith(network,
                      [each](const net::Address& group, const std::optional<net::Address>&) {
                        return queryWithTimers(group, each.robustness, each.intervalCode);
                      });
    const auto found = diagnosisOf(passOn(network));
    const Ids ids = idsOf(found);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "membership-interval"), each.flagged ? 1 : 0)
        << int{each.robustness} << " x code " << int{each.intervalCode};
    if (!each.flagged) continue;
    const Finding interval = only(found, "membership-interval");
    EXPECT_EQ(evidenceOf(interval)["report_gap_s"], 266.0);
    EXPECT_NE(sentenceOf(interval).find("queries every 256 s and gives 10 s to answer"),
              std::string::npos)
        << sentenceOf(interval);
  }
}

TEST(QuerierEvidence, AQuerierInASecondarySubnetIsOnTheLink) {
  ScriptedNetwork lab;
  ScriptedLab{}.install(lab);
  const net::Address secondary = *net::Address::parseV4("192.168.10.1");
  PassFindings findings = withLinkQueries(passOn(lab), {generalQuery(secondary, 3)});
  const Finding off = only(diagnosisOf(findings), "query-off-subnet");
  EXPECT_EQ(evidenceOf(off)["subnets"], (nlohmann::ordered_json{"10.0.1.0/24"}));
  EXPECT_EQ(off.reference, "RFC 9776 6.6.2");
  // 10.0.1.1 is below 192.168.10.1 and keeps the election.
  EXPECT_NE(sentenceOf(off).find("one with an address below 10.0.1.1 would win it"),
            std::string::npos)
      << sentenceOf(off);
  EXPECT_EQ(sentenceOf(off).find("ignore"), std::string::npos);

  findings.link->otherPrefixes = {*net::Prefix::parse("192.168.10.0/24")};
  const Ids ids = idsOf(diagnosisOf(findings));
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "query-off-subnet"), 0);

  // The host only in a secondary subnet hears its router query from the
  // primary one, as routers do: no fault while no other querier is there.
  PassFindings secondaryHost = passOn(lab);
  secondaryHost.link->address = *net::Address::parseV4("10.0.9.2");
  const Ids onSecondary = idsOf(diagnosisOf(secondaryHost));
  EXPECT_EQ(std::count(onSecondary.begin(), onSecondary.end(), "query-off-subnet"), 0);
  EXPECT_EQ(std::count(onSecondary.begin(), onSecondary.end(), "querier"), 1);

  // A lower off-subnet querier wins and silences the router.
  const net::Address lower = *net::Address::parseV4("10.0.0.9");
  const Finding wins =
      only(diagnosisOf(withLinkQueries(passOn(lab), {generalQuery(lower, 3)})), "query-off-subnet");
  EXPECT_NE(sentenceOf(wins).find("10.0.0.9 wins it over 10.0.1.1, which then stops querying"),
            std::string::npos)
      << sentenceOf(wins);
}

// The full lab's router with a second subnet on the host's link, the host
// only in that one: the router queries from both addresses, answers pings
// from the host's subnet, says Hellos from its primary address and lists
// the other in them. With `listed` false its Hellos name no other address.
PassFindings hostInRoutersSecondSubnet(ScriptedNetwork& lab, bool listed) {
  const net::Address secondary = *net::Address::parseV4("10.0.9.1");
  PassFindings findings = passOn(lab);
  findings.link->address = *net::Address::parseV4("10.0.9.2");
  for (const TestId id : {TestId::AllRoutersPing, TestId::SsmRoutersPing, TestId::PimRoutersPing}) {
    for (EchoReply& reply : std::get<PingDetails>(findings.find(id)->details).replies) {
      reply.from = secondary;
    }
  }
  auto& leave = std::get<MembershipDetails>(findings.find(TestId::AnySourceMembership)->details);
  std::vector<ObservedQuery> twice;
  for (const ObservedQuery& seen : leave.queries) {
    twice.push_back(seen);
    twice.push_back(seen);
    twice.back().query.sender = secondary;
  }
  leave.queries = twice;
  auto& hellos = std::get<PimDetails>(findings.find(TestId::PimHello)->details).hellos;
  EXPECT_EQ(hellos.size(), 1U);
  if (listed) {
    for (NeighbourHello& hello : hellos) hello.options.otherAddresses = {secondary};
  }
  return withLinkQueries(findings, {generalQuery(kLabRouter, 3)});
}

TEST(QuerierEvidence, ARouterQueryingFromEachOfItsSubnetsIsOneQuerierOnTheLink) {
  ScriptedNetwork lab;
  ScriptedLab{}.install(lab);
  const auto found = diagnosisOf(hostInRoutersSecondSubnet(lab, true));
  const Ids ids = idsOf(found);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "query-off-subnet"), 0)
      << ::testing::PrintToString(ids);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "multiple-queriers"), 0);
  EXPECT_EQ(evidenceOf(only(found, "querier"))["address"], "10.0.1.1");

  // Without the Hellos' Address List nothing ties 10.0.1.1 to the router
  // that answers from 10.0.9.1: two queriers, one outside the subnet.
  const auto untied = diagnosisOf(hostInRoutersSecondSubnet(lab, false));
  EXPECT_EQ(evidenceOf(only(untied, "multiple-queriers"))["sources"],
            (nlohmann::ordered_json{"10.0.1.1", "10.0.9.1"}));
  EXPECT_EQ(evidenceOf(only(untied, "query-off-subnet"))["addresses"],
            (nlohmann::ordered_json{"10.0.1.1"}));

  // A switch's querier at a lower address outside the subnet still wins the
  // election over that router, whose addresses count as one.
  PassFindings beside = hostInRoutersSecondSubnet(lab, true);
  beside.linkQueries->queries.push_back(generalQuery(*net::Address::parseV4("10.0.0.9"), 3));
  const auto contested = diagnosisOf(beside);
  EXPECT_EQ(evidenceOf(only(contested, "multiple-queriers"))["sources"],
            (nlohmann::ordered_json{"10.0.0.9", "10.0.1.1"}));
  EXPECT_EQ(evidenceOf(only(contested, "multiple-queriers"))["versions"],
            (nlohmann::ordered_json{3, 3}));
  EXPECT_EQ(evidenceOf(only(contested, "query-off-subnet"))["elected"], "10.0.0.9");
}

}  // namespace
