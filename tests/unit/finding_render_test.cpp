// Every rule's finding as --explain and the JSON print it, from passes that
// call up each rule and each of its sentences. The expected texts are the
// bytes the outputs printed before findings carried typed evidence; a
// change to how a finding is rendered shows here as a changed byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/diagnosis.h"
#include "app/finding_fix.h"
#include "app/pass_json.h"
#include "app/text_output.h"
#include "tests/unit/diagnosis_scenarios.h"
#include "tests/unit/finding_golden.h"

namespace {

using namespace testing_support;

struct Scenario {
  std::string name;
  PassFindings findings;
};

PassFindings labPass(const std::function<void(ScriptedNetwork&)>& change = {}) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  if (change) change(network);
  return passOn(network);
}

void queriedFromAnyAddress(ScriptedNetwork& network) {
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV3Query(net::Address{}, net::Address{}), {net::Address{}, 0}, milliseconds(500)}};
}

PassFindings withLeaveWithheld(PassFindings findings, std::initializer_list<TestId> ids) {
  for (const TestId id : ids) {
    std::get<MembershipDetails>(findings.find(id)->details).leaveWithheld = true;
  }
  return findings;
}

// An IPv6 pass whose ASM beacon reached the link but not the socket, and
// whose SSM beacon arrived.
PassFindings ipv6PassWithBeacons() {
  PassFindings findings = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")});
  const net::Address sender = *net::Address::parseV6("2001:db8::20");
  auto& asmBeacon = std::get<BeaconDetails>(findings.find(TestId::AsmBeacon)->details);
  asmBeacon.group = *net::Address::parseV6("ff3e:20:2001:db8::19");
  asmBeacon.port = 10002;
  asmBeacon.onLink = std::vector<LinkSender>{{sender, 20, 61, std::nullopt}};
  asmBeacon.unlistedLinkDatagrams = 3;
  auto& ssmBeacon = std::get<BeaconDetails>(findings.find(TestId::SsmBeacon)->details);
  ssmBeacon.group = *net::Address::parseV6("ff3e::120");
  ssmBeacon.port = 8020;
  ssmBeacon.source = sender;
  ssmBeacon.members = {{sender, 20}};
  ssmBeacon.onLink = std::vector<LinkSender>{{sender, 20, 62, std::nullopt}};
  return findings;
}

std::vector<Scenario> scenarios() {
  std::vector<Scenario> all;
  all.push_back({"ipv4 lab", labPass()});
  {
    ScriptedNetwork network;
    all.push_back({"ipv4 silent link", passOn(network)});
  }
  all.push_back({"ipv4 IGMPv2 querier", labPass([](ScriptedNetwork& network) {
                   answerReportsWith(
                       network, [](const net::Address& group, const std::optional<net::Address>&) {
                         return igmpV2Query(kLabRouter, group);
                       });
                   // Fallen back from test 5 on, after test 2's join.
                   network.hostEarlier = {net::HostMulticastState{}};
                   network.host.igmpMode = 2;
                 })});
  all.push_back({"ipv4 long membership interval", labPass([](ScriptedNetwork& network) {
                   answerReportsWith(
                       network, [](const net::Address& group, const std::optional<net::Address>&) {
                         return queryWithInterval(kLabRouter, group, 0x90);
                       });
                 })});
  {
    ScriptedNetwork network;
    queriedFromAnyAddress(network);
    all.push_back({"ipv4 switch querier alone", passOn(network)});
  }
  all.push_back({"ipv4 switch querier and a router", labPass(queriedFromAnyAddress)});
  all.push_back(
      {"ipv4 two queriers", labPass([](ScriptedNetwork& network) {
         network.scripts[SocketKind::IgmpCapture].arrivals = {Arrival{
             igmpV3Query(kSecondRouter, net::Address{}), {kSecondRouter, 0}, milliseconds(300)}};
       })});
  {
    ScriptedNetwork network;
    const net::Address stranger = *net::Address::parseV4("192.0.2.1");
    const net::Address other = *net::Address::parseV4("192.0.2.7");
    network.scripts[SocketKind::IgmpCapture].arrivals = {
        Arrival{igmpV3Query(stranger, net::Address{}), {stranger, 0}, milliseconds(300)},
        Arrival{igmpV3Query(other, net::Address{}), {other, 0}, milliseconds(400)}};
    all.push_back({"ipv4 queriers off the subnet", passOn(network)});
  }
  for (const int version : {1, 2, 3}) {
    all.push_back({"ipv4 host held to IGMPv" + std::to_string(version),
                   labPass([version](ScriptedNetwork& network) {
                     network.host.forcedIgmpVersion =
                         net::KernelSetting{"net.ipv4.conf.eth0.force_igmp_version", version};
                     network.host.igmpMode = version;
                   })});
  }
  for (const int filter : {1, 2}) {
    all.push_back({"ipv4 beacons dropped, rp_filter " + std::to_string(filter),
                   labPass([filter](ScriptedNetwork& network) {
                     network.scripts[SocketKind::Receiver].arrivals.clear();
                     network.host.reversePathFilter =
                         net::KernelSetting{"net.ipv4.conf.all.rp_filter", filter};
                     network.routes[kLabBeaconSource] = {"eth1"};
                   })});
  }
  all.push_back({"ipv4 router ignores pings", [] {
                   ScriptedNetwork network;
                   ScriptedLab lab;
                   lab.answersPings = false;
                   lab.install(network);
                   return passOn(network);
                 }()});
  all.push_back({"ipv4 firewall drops ping replies", [] {
                   ScriptedNetwork network;
                   ScriptedLab lab;
                   lab.firewallDropsReplies = true;
                   lab.install(network);
                   return passOn(network);
                 }()});
  all.push_back({"ipv4 leave withheld", withLeaveWithheld(labPass(), {TestId::AnySourceMembership,
                                                                      TestId::SourceMembership})});
  all.push_back({"ipv4 BLOCK withheld", withLeaveWithheld(labPass(), {TestId::SourceMembership})});
  all.push_back({"ipv4 IGMPv2 switch querier beside the router",
                 withLinkQueries(labPass(), {generalQuery(kSwitchQuerier, 2),
                                             generalQuery(kSecondRouter, 2)})});
  all.push_back({"ipv4 switch drops IGMPv3 reports",
                 labPass([](ScriptedNetwork& network) { answerOnlyTheLeave(network, 3); })});
  {
    ScriptedNetwork network;
    ScriptedLab lab;
    lab.igmp = false;
    lab.install(network);
    all.push_back({"ipv4 querier heard only in the whole pass",
                   withLinkQueries(passOn(network), {generalQuery(kLabRouter, 3)})});
  }
  {
    PassFindings findings = freshFindings();
    auto& pim = findings.find(TestId::PimHello)->details.emplace<PimDetails>();
    pim.hellos = {{*net::Address::parseV4("10.0.1.1"), HelloOptions{105, 5, 1}},
                  {*net::Address::parseV4("10.0.1.9"), HelloOptions{105, std::nullopt, 2}}};
    all.push_back({"ipv4 DR without a priority, no link", findings});
  }

  all.push_back({"ipv6 MLDv2 querier", ipv6Pass({mldQuery(kRouter6, 2, "ff3e:20:2001:db8::19")})});
  all.push_back({"ipv6 MLDv1 querier", ipv6Pass({mldQuery(kRouter6, 1, "ff3e:20:2001:db8::19")})});
  {
    const net::Address bridge = *net::Address::parseV6("fe80::5");
    const net::Address global = *net::Address::parseV6("2001:db8:1::5");
    const net::Address other = *net::Address::parseV6("2001:db8:1::6");
    all.push_back({"ipv6 queries from global addresses",
                   ipv6Pass({mldQuery(bridge, 2), mldQuery(global, 2, "ff3e::120"),
                             mldQuery(other, 2, "ff3e::120")})});
    all.push_back(
        {"ipv6 query from one global address", ipv6Pass({mldQuery(global, 2, "ff3e::120")})});
  }
  all.push_back({"ipv6 three queriers",
                 ipv6Pass({mldQuery(*net::Address::parseV6("fe80::9"), 2), mldQuery(kRouter6, 2),
                           mldQuery(*net::Address::parseV6("fe80::3"), 2)})});
  all.push_back(
      {"ipv6 switch querier alone", ipv6Pass({mldQuery(net::anyAddress(net::Family::V6), 2)})});
  all.push_back({"ipv6 switch querier and a router",
                 ipv6Pass({mldQuery(net::anyAddress(net::Family::V6), 2), mldQuery(kRouter6, 2)})});
  all.push_back({"ipv6 silent link", ipv6Pass({})});
  {
    PassFindings findings = ipv6Pass({});
    findings.link.reset();
    all.push_back({"ipv6 silent link, no link facts", findings});
  }
  all.push_back(
      {"ipv6 router ignores pings", ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")}, false)});
  for (const int version : {1, 2}) {
    PassFindings findings = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")});
    findings.hostState.forcedMldVersion =
        net::KernelSetting{"net.ipv6.conf.all.force_mld_version", version};
    all.push_back({"ipv6 host held to MLDv" + std::to_string(version), findings});
  }
  all.push_back({"ipv6 beacons", ipv6PassWithBeacons()});
  {
    // Tenths of a second in the sentence, a fraction in the JSON.
    MembershipQuery general = mldQuery(kRouter6, 2);
    general.maxResponseMs = 2500;
    general.robustness = 3;
    all.push_back({"ipv6 querier of 2.5 s responses", ipv6Pass({general})});
  }
  all.push_back({"ipv4 host routes multicast", labPass([](ScriptedNetwork& network) {
                   network.host.multicastForwarding =
                       net::KernelSetting{"net.ipv4.conf.eth0.mc_forwarding", 1};
                 })});
  all.push_back({"ipv4 beacons at TTL 2", labPass([](ScriptedNetwork& network) {
                   network.scripts[SocketKind::BeaconCapture].arrivals =
                       beaconsOnLink(kLabBeaconSource, 2);
                 })});
  all.push_back(
      {"ipv4 beacons dropped, no route back", labPass([](ScriptedNetwork& network) {
         network.scripts[SocketKind::Receiver].arrivals.clear();
         network.host.reversePathFilter = net::KernelSetting{"net.ipv4.conf.all.rp_filter", 2};
         network.routes[kLabBeaconSource] = {};
       })});
  all.push_back(
      {"ipv4 PIM holdtime outlived", labPass([](ScriptedNetwork& network) {
         network.scripts[SocketKind::PimCapture].replies = [](std::span<const std::uint8_t>,
                                                              const net::Endpoint&) {
           return std::vector<Arrival>{
               Arrival{pimHelloFrom(kLabRouter, 0x0BADCAFE, 3), {kLabRouter, 0}, milliseconds(3)}};
         };
       })});
  {
    PassFindings findings = labPass();
    findings.previousHellos =
        std::vector<NeighbourHello>{{kLabRouter, HelloOptions{105, 1, 0x11111111}}};
    all.push_back({"ipv4 PIM neighbour restarted", findings});
  }
  {
    PassFindings findings = ipv6Pass({mldQuery(kRouter6, 1, "ff3e:20:2001:db8::19")});
    findings.hostState.forcedMldVersion =
        net::KernelSetting{"net.ipv6.conf.all.force_mld_version", 2};
    all.push_back({"ipv6 host held to MLDv2, MLDv1 querier", findings});
  }
  {
    PassFindings findings = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")});
    std::get<PimDetails>(findings.find(TestId::PimHello)->details).hellos.clear();
    std::get<PingDetails>(findings.find(TestId::PimRoutersPing)->details).group =
        *net::Address::parseV6("ff02::d");
    all.push_back({"ipv6 PIM passive", findings});
  }
  return all;
}

// What --explain prints for the pass, then the JSON's diagnosis array as
// the line carries it.
std::string rendered(const PassFindings& findings) {
  const BatteryReport battery = reportBattery(findings);
  std::ostringstream text;
  printDiagnosis(text, battery);
  const std::string line = passJson(PassTiming{}, battery);
  const std::string key = "\"diagnosis\":";
  const auto at = line.find(key);
  if (at == std::string::npos) return text.str() + "(no diagnosis in the JSON)";
  return text.str() + line.substr(at + key.size(), line.size() - at - key.size() - 1);
}

TEST(FindingRendering, EveryScenarioPrintsWhatItAlwaysHas) {
  const std::vector<Scenario> all = scenarios();
  ASSERT_EQ(all.size(), kFindingsPrinted.size());
  for (const Scenario& scenario : all) {
    const auto expected = kFindingsPrinted.find(scenario.name);
    ASSERT_NE(expected, kFindingsPrinted.end()) << scenario.name;
    EXPECT_EQ(rendered(scenario.findings), expected->second) << scenario.name;
  }
}

TEST(FindingRendering, ScenariosCallUpEveryRule) {
  std::set<std::string> found;
  for (const Scenario& scenario : scenarios()) {
    for (const Finding& finding : diagnosisOf(scenario.findings))
      found.emplace(findingName(finding.id));
  }
  for (const DiagnosisRule& rule : diagnosisRules()) {
    EXPECT_EQ(found.count(std::string(findingName(rule.id))), 1U)
        << findingName(rule.id) << " has no scenario";
  }
}

TEST(FindingRendering, ProblemsAndWarningsSayWhatToChangeAndInformationDoesNot) {
  for (const Scenario& scenario : scenarios()) {
    for (const Finding& finding : diagnosisOf(scenario.findings)) {
      const auto fix = findingFix(finding);
      EXPECT_EQ(fix.has_value(), finding.severity != Severity::Info)
          << scenario.name << ": " << findingName(finding.id);
      if (fix) {
        EXPECT_FALSE(fix->empty()) << scenario.name << ": " << findingName(finding.id);
      }
    }
  }
}

// The JSON schema's list of finding ids: the object whose "id" enumerates
// "no-querier", wherever the schema keeps it.
std::set<std::string> schemaFindingIds(const nlohmann::json& node) {
  if (node.is_object()) {
    const auto id = node.find("id");
    if (id != node.end() && id->is_object() && id->contains("enum")) {
      const auto& names = (*id)["enum"];
      if (std::find(names.begin(), names.end(), "no-querier") != names.end()) {
        return {names.begin(), names.end()};
      }
    }
  }
  if (node.is_structured()) {
    for (const auto& child : node) {
      if (auto found = schemaFindingIds(child); !found.empty()) return found;
    }
  }
  return {};
}

TEST(FindingRendering, TheSchemaKnowsEveryFindingAndNoOther) {
  std::ifstream file(std::string(CORVANITE_SOURCE_DIR) + "/schema/pass.schema.json");
  ASSERT_TRUE(file.is_open());
  const std::set<std::string> inSchema = schemaFindingIds(nlohmann::json::parse(file));
  std::set<std::string> ruled;
  for (const DiagnosisRule& rule : diagnosisRules()) ruled.emplace(findingName(rule.id));
  EXPECT_EQ(inSchema, ruled);
}

}  // namespace
