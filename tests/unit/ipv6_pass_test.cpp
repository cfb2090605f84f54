// Whole IPv6 passes against scripted IPv6 labs: the text is the same, byte
// for byte, as the real tool prints in the lab's variants (the end-to-end
// golden texts); the JSON and the diagnosis hold what those labs show.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app/battery.h"
#include "app/pass_json.h"
#include "app/run.h"
#include "app/text_output.h"
#include "tests/unit/golden_text.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab6.h"

namespace {

using namespace testing_support;
using nlohmann::json;

// The interactive run as the tool makes it with -6, answering the prompt with `input`.
std::string interactiveRun(ScriptedNetwork& network, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  runDiagnostics(in, out, [&](PassObserver& observer, PassReport& report) {
    runPass(network, labSetup6(), observer, report);
  });
  return out.str();
}

// A run for scripts (--once), whose passes run the batteries of `networks`'
// families in turn: the text and the exit status.
std::pair<std::string, int> scriptedRun(
    const std::vector<std::pair<ScriptedNetwork*, PassSetup>>& networks, bool explain = false) {
  std::ostringstream out;
  const int status = runScripted(
      out,
      [&](PassObserver& observer, PassReport& report) {
        for (const auto& [network, setup] : networks) {
          runPass(*network, setup, observer, report);
        }
      },
      ScriptedRun{false, std::nullopt, explain});
  return {out.str(), status};
}

PassFindings passOn(ScriptedNetwork& network) {
  PassObserver quiet;
  PassFindings findings;
  runPassInto(network, labSetup6(), quiet, findings);
  return findings;
}

json jsonOf(const PassFindings& findings) {
  return json::parse(passJson(PassTiming{}, reportBattery(findings)));
}

std::vector<std::string> diagnosisIds(const json& pass) {
  std::vector<std::string> ids;
  for (const json& finding : pass["diagnosis"]) ids.push_back(finding["id"]);
  return ids;
}

// The evidence of the finding `id`; a test fails on a finding that is not there.
json evidenceOf(const json& pass, const std::string& id) {
  for (const json& finding : pass["diagnosis"]) {
    if (finding["id"] == id) return finding["evidence"];
  }
  ADD_FAILURE() << "no finding " << id;
  return json::object();
}

TEST(ScriptedIpv6Pass, TwoPassesInTheFullLabPrintTheGoldenText) {
  ScriptedNetwork network;
  ScriptedLab6{}.install(network);
  EXPECT_EQ(interactiveRun(network, "y\nq\n"), goldenText("ipv6_full_two_passes.txt"));
}

TEST(ScriptedIpv6Pass, TwoPassesSendTheMldReportsInOrderThePingsAndAFreshHelloEach) {
  ScriptedNetwork network;
  ScriptedLab6{}.install(network);
  interactiveRun(network, "y\nq\n");

  // MLDv1 Report and Done, then the MLDv2 ALLOW and BLOCK, in each pass.
  std::string order;
  for (const Sent& mld : network.sentBy(SocketKind::IgmpCapture)) {
    if (mld.bytes[0] == 131) order += 'R';
    if (mld.bytes[0] == 132) order += 'D';
    if (mld.bytes[0] == 143) order += mld.bytes[8] == 5 ? 'A' : 'B';
  }
  EXPECT_EQ(order, "RDABRDAB");
  const auto mld = network.sentBy(SocketKind::IgmpCapture);
  EXPECT_EQ(mld[2].at - mld[1].at, milliseconds(6000)) << "the rest of test 5 and test 6's pause";

  std::vector<std::string> pinged;
  for (const Sent& request : network.sentBy(SocketKind::Pinger)) {
    EXPECT_EQ(request.bytes[0], 128);
    EXPECT_EQ(request.destination.address.scopeId(), kLabInterfaceIndex);
    pinged.push_back(request.destination.address.withScope(0).toString());
  }
  EXPECT_EQ(pinged, (std::vector<std::string>{"ff02::2", "ff02::16", "ff02::d", "ff02::2",
                                              "ff02::16", "ff02::d"}));

  // Each pass sends its Hello, then a goodbye (Holdtime 0) from the same neighbour.
  const auto hellos = network.sentBy(SocketKind::PimCapture);
  ASSERT_EQ(hellos.size(), 4U);
  EXPECT_EQ(net::readBe16(hellos[0].bytes, 8), 30);
  EXPECT_EQ(net::readBe16(hellos[1].bytes, 8), 0);
  EXPECT_EQ(net::readBe16(hellos[2].bytes, 8), 30);
  EXPECT_EQ(net::readBe16(hellos[3].bytes, 8), 0);
  EXPECT_EQ(net::readBe32(hellos[0].bytes, 22), net::readBe32(hellos[1].bytes, 22));
  EXPECT_EQ(net::readBe32(hellos[2].bytes, 22), net::readBe32(hellos[3].bytes, 22));
  EXPECT_NE(net::readBe32(hellos[0].bytes, 22), net::readBe32(hellos[2].bytes, 22))
      << "each pass's Hello is a new neighbour's, with a Generation ID of its own";
  for (const Sent& hello : hellos) EXPECT_EQ(net::readBe32(hello.bytes, 14), 0U);
}

TEST(ScriptedIpv6Pass, LinkWithNothingOnItPrintsTheGoldenTextAndTakesTheWholeFixedWaits) {
  ScriptedNetwork network;
  EXPECT_EQ(interactiveRun(network, "q\n"), goldenText("ipv6_bare_pass.txt"));
  // 2 s, 2 + 2 s, 2 s, 2 s, 2 + 1 s, 5 + 2 + 1 s, 2 s and 5 s.
  EXPECT_EQ(network.clock(), milliseconds(28000));
}

TEST(ScriptedIpv6Pass, MldV1LabOncePrintsTheGoldenTextAndFails) {
  ScriptedNetwork network;
  ScriptedLab6 lab;
  lab.mldVersion = 1;
  lab.install(network);
  const auto [text, status] = scriptedRun({{&network, labSetup6()}});
  EXPECT_EQ(text, goldenText("ipv6_mldv1_once.txt"));
  EXPECT_EQ(status, 1) << "test 6 failed";
}

TEST(ScriptedIpv6Pass, BothFamiliesOncePrintTheGoldenTextAndSucceed) {
  ScriptedNetwork network4;
  ScriptedLab{}.install(network4);
  ScriptedNetwork network6;
  ScriptedLab6{}.install(network6);
  const auto [text, status] = scriptedRun({{&network4, labSetup()}, {&network6, labSetup6()}});
  EXPECT_EQ(text, goldenText("ipv6_both_once.txt"));
  EXPECT_EQ(status, 0);
}

TEST(ScriptedIpv6Pass, BothFamiliesInJsonAreOneLineAFamilyIpv4First) {
  ScriptedNetwork network4;
  ScriptedLab{}.install(network4);
  ScriptedNetwork network6;
  ScriptedLab6{}.install(network6);
  std::ostringstream out;
  const int status = runScripted(
      out,
      [&](PassObserver& observer, PassReport& report) {
        runPass(network4, labSetup(), observer, report);
        runPass(network6, labSetup6(), observer, report);
      },
      ScriptedRun{true, std::nullopt});
  EXPECT_EQ(status, 0);
  std::istringstream lines(out.str());
  std::vector<std::string> families;
  for (std::string line; std::getline(lines, line);)
    families.push_back(json::parse(line)["family"]);
  EXPECT_EQ(families, (std::vector<std::string>{"ipv4", "ipv6"}));
}

TEST(ScriptedIpv6Pass, EveryTestOfTheFullLabSucceedsWithTheBatterysTiming) {
  ScriptedNetwork network;
  ScriptedLab6{}.install(network);
  const PassFindings findings = passOn(network);
  EXPECT_EQ(findings.family, net::Family::V6);
  ASSERT_EQ(findings.tests.size(), 8U);
  const std::uint32_t durations[] = {2000, 4000, 1, 1, 3000, 8000, 1, 5000};
  for (std::size_t i = 0; i < findings.tests.size(); ++i) {
    const TestRecord& record = findings.tests[i];
    EXPECT_EQ(record.number, static_cast<int>(i + 1));
    EXPECT_EQ(record.outcome, TestOutcome::Succeeded) << "test " << record.number;
    EXPECT_EQ(record.durationMs, durations[i]) << "test " << record.number;
  }
  // The membership tests run in the list's places, whichever protocol speaks them.
  EXPECT_EQ(findings.tests[4].id, TestId::AnySourceMembership);
  EXPECT_EQ(findings.tests[5].id, TestId::SourceMembership);
}

TEST(ScriptedIpv6Pass, WithoutRawSocketsOnlyTheBeaconTestsRunAndTheRestSayWhy) {
  ScriptedNetwork network;
  ScriptedLab6{}.install(network);
  network.rawSocketsRefused = 1;
  std::ostringstream out;
  TextOutput text(out);
  PassFindings findings;
  runPassInto(network, labSetup6(), text, findings);
  const std::string refused =
      "Raw socket usage failed with error : 1. You might not have administrative privilege. \n";
  for (const TestRecord& record : findings.tests) {
    const bool beacon = record.id == TestId::AsmBeacon || record.id == TestId::SsmBeacon;
    EXPECT_EQ(record.outcome, beacon ? TestOutcome::Succeeded : TestOutcome::Error)
        << record.number;
  }
  EXPECT_NE(out.str().find("\t3.  Pinging ff02::2, the routers on the link \n" + refused),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("\t8.  Saying PIM Hello to the routers on the link \n" + refused),
            std::string::npos);
  EXPECT_TRUE(network.sent.empty()) << "nothing was sent without a raw socket";
}

// What the lab's JSON check holds the IPv6 pass of the full lab to.
TEST(ScriptedIpv6Pass, FullLabJsonNamesTheRouterTheChannelsQueryAndEveryFlag) {
  ScriptedNetwork network;
  ScriptedLab6{}.install(network);
  const json pass = jsonOf(passOn(network));
  EXPECT_EQ(pass["family"], "ipv6");
  const json& tests = pass["tests"];
  ASSERT_EQ(tests.size(), 8U);
  const char* names[] = {"asm-beacon",  "ssm-beacon",  "all-routers-ping", "mldv2-routers-ping",
                         "mldv1-query", "mldv2-query", "pim-routers-ping", "pim-hello"};
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(tests[i]["name"], names[i]);
  EXPECT_EQ(tests[0]["members"], json::parse(R"([{"address":"2001:db8::20","datagrams":20}])"));
  EXPECT_EQ(tests[1]["source"], "2001:db8::20");
  EXPECT_EQ(tests[1]["header"],
            "2.  Joining the IPv6 source-specific beacon channel (2001:db8::20, ff3e::120), port "
            "8020 ");
  for (const auto& [number, group] :
       {std::pair{3U, "ff02::2"}, std::pair{4U, "ff02::16"}, std::pair{7U, "ff02::d"}}) {
    const json& ping = tests[number - 1];
    EXPECT_EQ(ping["group"], group);
    EXPECT_EQ(ping["replies"], json::parse(R"([{"address":"fe80::1","round_trip_ms":1.0}])"));
  }
  EXPECT_EQ(tests[4]["queries"][0]["group"], "ff3e:20:2001:db8::19");
  EXPECT_EQ(tests[5]["queries"], json::parse(R"([{"sender":"fe80::1","destination":"ff3e::120",
      "version":2,"group":"ff3e::120","max_response_ms":10000,"since_probe_ms":2005.0,
      "robustness":2,"query_interval_s":125,"sources":["2001:db8::20"]}])"));
  EXPECT_EQ(tests[7]["hellos"], json::parse(R"([{"sender":"fe80::1","holdtime_s":105,
      "dr_priority":1,"generation_id":195939070}])"));
  for (const auto& [flag, value] : pass["verdicts"]["flags"].items()) {
    EXPECT_EQ(value, true) << flag;
  }
  EXPECT_EQ(pass["verdicts"]["report"].size(), 10U);
}

TEST(ScriptedIpv6Pass, MldV1LabJsonShowsNoMldV2AnswerAndItsQueryWithoutQrv) {
  ScriptedNetwork network;
  ScriptedLab6 lab;
  lab.mldVersion = 1;
  lab.install(network);
  const json pass = jsonOf(passOn(network));
  const json& v1 = pass["tests"][4];
  ASSERT_EQ(v1["queries"].size(), 1U);
  EXPECT_EQ(v1["queries"][0]["version"], 1);
  EXPECT_EQ(v1["queries"][0]["robustness"], nullptr);
  EXPECT_EQ(pass["tests"][5]["outcome"], "failed");
  EXPECT_EQ(pass["tests"][5]["queries"], json::array());
  EXPECT_EQ(pass["verdicts"]["flags"]["mld_v2_query_seen"], false);
  EXPECT_EQ(pass["verdicts"]["flags"]["mld_v1_query_seen"], true);
}

// The diagnosis of the IPv6 lab's variants, as --explain and the JSON give it.
TEST(ScriptedIpv6Diagnosis, FullLabTellsTheQuerierTheDrAndTheBeaconsHopLimitAndNothingElse) {
  ScriptedNetwork network;
  ScriptedLab6{}.install(network);
  const json pass = jsonOf(passOn(network));
  EXPECT_EQ(diagnosisIds(pass), (std::vector<std::string>{"querier", "beacon-ttl", "pim-dr"}));
  const json querier = evidenceOf(pass, "querier");
  EXPECT_EQ(querier["address"], "fe80::1");
  EXPECT_EQ(querier["version"], 2);
  EXPECT_EQ(querier["robustness"], 2);
  EXPECT_EQ(querier["query_interval_s"], 125);
  EXPECT_EQ(querier["membership_interval_s"], 260);
  EXPECT_EQ(querier["family"], "ipv6");
  const json dr = evidenceOf(pass, "pim-dr");
  EXPECT_EQ(dr["address"], "fe80::1");
  EXPECT_EQ(dr["dr_priority"], 1);
  const json ttl = evidenceOf(pass, "beacon-ttl");
  EXPECT_EQ(ttl["beacons"][0]["group"], "ff3e:20:2001:db8::19");
  EXPECT_EQ(ttl["beacons"][0]["lowest_ttl"], kLab6BeaconHopLimit);
  EXPECT_EQ(ttl["beacons"][1]["group"], "ff3e::120");
  EXPECT_EQ(ttl["beacons"][1]["lowest_ttl"], kLab6BeaconHopLimit);
}

TEST(ScriptedIpv6Diagnosis, HostHeldToMldV1FailsTheChannelWithoutJoiningAndSaysWhy) {
  ScriptedNetwork network;
  ScriptedLab6{}.install(network);
  network.host.forcedMldVersion = net::KernelSetting{"net.ipv6.conf.eth0.force_mld_version", 1};
  const auto [text, status] = scriptedRun({{&network, labSetup6()}}, true);
  EXPECT_EQ(status, 1);
  // No result line: the test ends before it joins.
  EXPECT_NE(text.find("(2001:db8::20, ff3e::120), port 8020 \n"
                      "The host is held to MLDv1 and cannot join IPv6 source-specific channels \n"
                      "\t3.  "),
            std::string::npos)
      << text;
  EXPECT_TRUE(
      std::none_of(network.memberships.begin(), network.memberships.end(),
                   [](const MembershipChange& change) { return change.group == kLab6SsmGroup; }))
      << "a join without its source proves nothing";
  const json pass = jsonOf(passOn(network));
  const auto ids = diagnosisIds(pass);
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids[0], "host-mld-version-forced");
  EXPECT_EQ(pass["diagnosis"][0]["severity"], "problem");
  EXPECT_EQ(pass["diagnosis"][0]["evidence"]["setting"], "net.ipv6.conf.eth0.force_mld_version");
  EXPECT_EQ(pass["diagnosis"][0]["evidence"]["value"], 1);
  EXPECT_EQ(pass["diagnosis"][0]["evidence"]["family"], "ipv6");
}

TEST(ScriptedIpv6Diagnosis, BeaconsTheHostDropsAreBlamedOnTheHostNotThePathBeyondTheRouter) {
  ScriptedNetwork network;
  ScriptedLab6 lab;
  lab.beaconsOnLinkOnly = true;
  lab.install(network);
  const json pass = jsonOf(passOn(network));
  const auto ids = diagnosisIds(pass);
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids[0], "host-drops-beacon");
  EXPECT_NE(std::find(ids.begin(), ids.end(), "querier"), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), "pim-dr"), ids.end());
  const json& evidence = pass["diagnosis"][0]["evidence"];
  EXPECT_EQ(evidence["interface"], "eth0");
  EXPECT_EQ(evidence["beacons"][0]["group"], "ff3e:20:2001:db8::19");
  EXPECT_EQ(evidence["beacons"][0]["port"], 10002);
  EXPECT_EQ(evidence["beacons"][0]["senders"], json::parse(R"(["2001:db8::20"])"));
  EXPECT_EQ(evidence["beacons"][0]["datagrams_received"], 0);
  EXPECT_EQ(evidence["beacons"][0]["cause"], "unknown");
  EXPECT_EQ(evidence["beacons"][1]["group"], "ff3e::120");
  EXPECT_EQ(evidence["beacons"][1]["source"], "2001:db8::20");
  EXPECT_EQ(evidence["family"], "ipv6");

  const auto [text, status] = scriptedRun({{&network, labSetup6()}}, true);
  EXPECT_EQ(text.find("The path to the first-hop router works for IPv6 any-source multicast, "
                      "but no beacon"),
            std::string::npos);
  EXPECT_EQ(text.find("The path to the first-hop router works for IPv6 source-specific "
                      "multicast, but no"),
            std::string::npos);
  EXPECT_NE(text.find("something on the host drops them"), std::string::npos) << text;
}

TEST(ScriptedIpv6Diagnosis, MldV1OnlyQuerierIsTheProblemNotASwitch) {
  ScriptedNetwork network;
  ScriptedLab6 lab;
  lab.mldVersion = 1;
  lab.install(network);
  const json pass = jsonOf(passOn(network));
  EXPECT_EQ(diagnosisIds(pass),
            (std::vector<std::string>{"querier-old-version", "querier", "beacon-ttl", "pim-dr"}));
  EXPECT_EQ(pass["diagnosis"][0]["evidence"]["address"], "fe80::1");
  EXPECT_EQ(pass["diagnosis"][0]["evidence"]["version"], 1);
  EXPECT_EQ(pass["diagnosis"][1]["evidence"]["version"], 1);

  const auto [text, status] = scriptedRun({{&network, labSetup6()}}, true);
  EXPECT_NE(text.find("=> The path to the first-hop router is not set up for IPv6 source-specific "
                      "multicast"),
            std::string::npos);
  EXPECT_NE(text.find("[problem] The querier fe80::1 on eth0 speaks MLDv1 only"),
            std::string::npos);
  EXPECT_NE(text.find("This, not a switch, is why"), std::string::npos);
}

TEST(ScriptedIpv6Diagnosis, SilentLinkHasNoMldQuerierAndNoDr) {
  ScriptedNetwork network;
  ScriptedLab6 lab;
  lab.mldVersion = 0;
  lab.pim = false;
  lab.install(network);
  const json pass = jsonOf(passOn(network));
  const auto ids = diagnosisIds(pass);
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids[0], "no-querier");
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "pim-dr"), 0);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "querier"), 0);
}

}  // namespace
