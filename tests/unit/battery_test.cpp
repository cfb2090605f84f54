// Each test of the battery against a scripted network: what it sends and
// when, what it records, the lines it prints and how a socket failure at a
// chosen call ends it.
#include "app/battery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app/pass_json.h"
#include "app/text_output.h"
#include "probes/probe_limits.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace {

using namespace testing_support;

class BatteryTest : public ::testing::Test {
 protected:
  // Runs one test of the battery into its record; its lines go to text().
  const TestRecord& run(TestId id) {
    TestRecord& record = *findings_.find(id);
    runTest(batteryTest(id), network, setup, output_, record);
    return record;
  }
  [[nodiscard]] std::string text() const { return out_.str(); }
  [[nodiscard]] const PassFindings& findings() const { return findings_; }

  ScriptedNetwork network;
  PassSetup setup = labSetup();

 private:
  std::ostringstream out_;
  TextOutput output_{out_};
  PassFindings findings_ = freshFindings();
};

const std::string kAsmHeader =
    "\t1.  Joining NLAR Multicast Beacon Group 233.4.200.19, port 10002 \n";
const std::string kSsmHeader =
    "\t2.  Joining SSM Video Group 232.64.133.120, 198.51.100.20 port 8020 \n";

TEST_F(BatteryTest, AsmBeaconCountsEachSenderOnceAndLeavesOnTheChosenInterface) {
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource, 5);
  const auto second = beaconDatagrams(*net::Address::parseV4("198.51.100.9"), 2);
  auto& arrivals = network.scripts[SocketKind::Receiver].arrivals;
  arrivals.insert(arrivals.end(), second.begin(), second.end());

  const TestRecord& record = run(TestId::AsmBeacon);

  EXPECT_EQ(text(), kAsmHeader + "Test succeeded:   received response from 2 members \n");
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
  const auto& beacon = std::get<BeaconDetails>(record.details);
  ASSERT_EQ(beacon.members.size(), 2U);
  // In address order: .9 before .20, which their texts would reverse.
  EXPECT_EQ(beacon.members[0].address.toString(), "198.51.100.9");
  EXPECT_EQ(beacon.members[0].datagrams, 2);
  EXPECT_EQ(beacon.members[1].address.toString(), "198.51.100.20");
  EXPECT_EQ(beacon.members[1].datagrams, 5);
  EXPECT_EQ(beacon.unlistedMemberDatagrams, 0);
  ASSERT_EQ(network.memberships.size(), 2U);
  EXPECT_EQ(network.memberships[0].change, net::Membership::Join);
  EXPECT_EQ(network.memberships[0].group, kLabAsmGroup);
  EXPECT_FALSE(network.memberships[0].source.has_value());
  EXPECT_EQ(network.memberships[0].interfaceIndex, kLabInterfaceIndex);
  EXPECT_EQ(network.memberships[1].change, net::Membership::Leave);
  // The whole window is listened to, whatever arrives.
  EXPECT_EQ(record.durationMs, 2000U);
  EXPECT_TRUE(flagsOf(findings()).hostAsmCapable);
}

TEST_F(BatteryTest, AsmBeaconWithNothingHeardFailsButTheHostStillJoined) {
  const TestRecord& record = run(TestId::AsmBeacon);
  EXPECT_EQ(text(), kAsmHeader + "Test failed:  did not get reponse from any member \n");
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  const PassFlags flags = flagsOf(findings());
  EXPECT_TRUE(flags.hostAsmCapable);
  EXPECT_FALSE(flags.asmBeaconHeard);
}

TEST_F(BatteryTest, AsmBeaconRefusedJoinEndsTheTestWithItsOwnLeadIn) {
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource);
  network.failures.push_back({SocketKind::Receiver, 0, "SetOption", 105});

  const TestRecord& record = run(TestId::AsmBeacon);

  EXPECT_EQ(text(), kAsmHeader +
                        "Exception while joining Beacon Group:Exception while running test : "
                        "SetOptionfailed with error code : 105\n\n");
  EXPECT_EQ(record.outcome, TestOutcome::Error);
  ASSERT_TRUE(record.error.has_value());
  EXPECT_EQ(record.error->call, "SetOption");
  EXPECT_EQ(record.error->code, 105);
  EXPECT_TRUE(std::get<BeaconDetails>(record.details).members.empty());
  EXPECT_FALSE(flagsOf(findings()).hostAsmCapable);
}

TEST_F(BatteryTest, AsmBeaconLinkGoneDownFailsBeforeTheJoin) {
  network.linkDownError = 19;
  const TestRecord& record = run(TestId::AsmBeacon);
  EXPECT_EQ(record.error->call, "SetOption");
  EXPECT_EQ(record.error->code, 19);
  EXPECT_TRUE(network.memberships.empty());
}

TEST_F(BatteryTest, SsmBeaconJoinsTheChannelAfterItsPause) {
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource, 3);

  const TestRecord& record = run(TestId::SsmBeacon);

  EXPECT_EQ(text(), kSsmHeader + "Test succeeded:   received response from 1 members \n");
  EXPECT_EQ(network.pauses, std::vector<std::uint32_t>{2000});
  ASSERT_EQ(network.memberships.size(), 2U);
  EXPECT_EQ(network.memberships[0].group, kLabSsmGroup);
  EXPECT_EQ(network.memberships[0].source, kLabBeaconSource);
  EXPECT_EQ(network.memberships[1].change, net::Membership::Leave);
  EXPECT_EQ(network.memberships[1].source, kLabBeaconSource);
  EXPECT_EQ(record.durationMs, 4000U);
  EXPECT_TRUE(flagsOf(findings()).ssmBeaconHeard);
}

TEST_F(BatteryTest, SsmBeaconRefusedSourceJoinSaysTheHostCannotDoSsm) {
  network.failures.push_back({SocketKind::Receiver, 0, "SetOption", 105});
  run(TestId::SsmBeacon);
  EXPECT_EQ(text(), kSsmHeader +
                        "Exception while joining SSM Group:Exception while running test : "
                        "SetOptionfailed with error code : 105\n"
                        "The host does not support SSM <IGMPv3> \n");
  EXPECT_FALSE(flagsOf(findings()).hostSsmCapable);
}

TEST_F(BatteryTest, SsmBeaconPortHeldIsNoVerdictOnSsm) {
  network.failures.push_back({SocketKind::Receiver, 0, "Bind", 98});
  run(TestId::SsmBeacon);
  EXPECT_EQ(text(), kSsmHeader +
                        "Exception while joining SSM Group:Exception while running test : "
                        "Bindfailed with error code : 98\n\n");
}

TEST_F(BatteryTest, SsmBeaconFailedLeaveComesAfterTheResultAndKeepsTheMembers) {
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource, 3);
  // The join is the first membership change; the leave, the second, fails.
  network.failures.push_back({SocketKind::Receiver, 0, "SetOption", 99, 1});

  const TestRecord& record = run(TestId::SsmBeacon);

  EXPECT_EQ(text(), kSsmHeader + "Test succeeded:   received response from 1 members \n" +
                        "Exception while joining SSM Group:Exception while running test : "
                        "SetOptionfailed with error code : 99\n"
                        "The host does not support SSM <IGMPv3> \n");
  EXPECT_EQ(record.outcome, TestOutcome::Error);
  const PassFlags flags = flagsOf(findings());
  EXPECT_TRUE(flags.ssmBeaconHeard);
  EXPECT_FALSE(flags.hostSsmCapable);
}

TEST_F(BatteryTest, RouterPingRecordsTheFirstReplyAndEndsAtIt) {
  ScriptedLab{}.install(network);

  const TestRecord& record = run(TestId::AllRoutersPing);

  EXPECT_EQ(text(), "\t3.  Checking presence of multicast capable router in the neighborhood \n");
  const auto requests = network.sentBy(SocketKind::Pinger);
  ASSERT_EQ(requests.size(), 1U);
  const Sent& request = requests[0];
  EXPECT_EQ(request.destination.address.toString(), "224.0.0.2");
  EXPECT_EQ(request.bytes[0], 8) << "an echo request";
  const auto& ping = std::get<PingDetails>(record.details);
  ASSERT_EQ(ping.replies.size(), 1U);
  EXPECT_EQ(ping.replies[0].from, kLabRouter);
  EXPECT_DOUBLE_EQ(ping.replies[0].roundTripMs, 1.0);
  EXPECT_EQ(record.durationMs, 1U) << "the first reply ends the wait";
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
}

TEST_F(BatteryTest, RouterPingIgnoresRepliesToOtherPingers) {
  network.scripts[SocketKind::Pinger].replies = [](std::span<const std::uint8_t> request,
                                                   const net::Endpoint&) {
    std::vector<std::uint8_t> other(request.begin(), request.end());
    other[4] ^= 0xFFU;  // another process's identifier
    return std::vector<Arrival>{
        Arrival{echoReplyTo(other, kLabRouter), {kLabRouter, 0}, milliseconds(1)}};
  };
  const TestRecord& record = run(TestId::SsmRoutersPing);
  EXPECT_TRUE(std::get<PingDetails>(record.details).replies.empty());
  EXPECT_EQ(record.durationMs, 2000U) << "nobody answered: the whole wait";
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  EXPECT_EQ(network.sentBy(SocketKind::Pinger)[0].destination.address.toString(), "224.0.0.22");
}

TEST_F(BatteryTest, RouterPingWithoutRawSocketsPrintsTheDescriptionAlone) {
  network.rawSocketsRefused = 1;
  const TestRecord& record = run(TestId::PimRoutersPing);
  EXPECT_EQ(
      text(),
      "\t7.  Detecting presence of PIM-SM capable router \n"
      "Raw socket usage failed with error : 1. You might not have administrative privilege. \n");
  EXPECT_EQ(record.outcome, TestOutcome::Error);
  EXPECT_EQ(record.error->kind, TestError::Kind::RawSocket);
  EXPECT_FALSE(record.error->call.has_value());
}

TEST_F(BatteryTest, RouterPingWithoutAKnownInterfaceStillPings) {
  setup.link = net::PassLink{std::nullopt, net::CV_SocketException(-3, "getaddrinfo")};
  ScriptedLab{}.install(network);
  const TestRecord& record = run(TestId::AllRoutersPing);
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
}

TEST_F(BatteryTest, IgmpV2SendsReportThenLeaveAndSeesTheGroupQuery) {
  ScriptedLab{}.install(network);

  const TestRecord& record = run(TestId::AnySourceMembership);

  EXPECT_EQ(text(),
            "\t5.  Detecting if there is IGMPv2 capability to first-hop router \n"
            "Test succeeded:  received IGMPv2 response from the first-hop router \n");
  const auto sent = network.sentBy(SocketKind::IgmpCapture);
  ASSERT_EQ(sent.size(), 2U);
  EXPECT_EQ(sent[0].bytes[0], 0x16) << "a report";
  EXPECT_EQ(sent[0].destination.address, kLabAsmGroup);
  EXPECT_EQ(sent[1].bytes[0], 0x17) << "a leave";
  EXPECT_EQ(sent[1].destination.address.toString(), "224.0.0.2");
  EXPECT_EQ(sent[1].at - sent[0].at, milliseconds(2000));
  const auto& igmp = std::get<MembershipDetails>(record.details);
  // Its repetition a second later falls after the window.
  ASSERT_EQ(igmp.queries.size(), 1U);
  EXPECT_EQ(igmp.queries[0].query.group, kLabAsmGroup);
  EXPECT_EQ(igmp.queries[0].query.version, 3);
  EXPECT_DOUBLE_EQ(igmp.queries[0].sinceProbeMs, 2004.0);
  EXPECT_EQ(record.durationMs, 3000U);
}

TEST_F(BatteryTest, IgmpQueriesForOtherGroupsAreRecordedButAnswerNothing) {
  const net::Address other = *net::Address::parseV4("239.1.1.1");
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV2Query(kLabRouter, other), {kLabRouter, 0}, milliseconds(2500)}};

  const TestRecord& record = run(TestId::AnySourceMembership);

  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  const auto& igmp = std::get<MembershipDetails>(record.details);
  ASSERT_EQ(igmp.queries.size(), 1U);
  EXPECT_EQ(igmp.queries[0].query.version, 2);
  EXPECT_FALSE(igmp.sawQueryForGroup);
  EXPECT_EQ(text().substr(text().find('\n') + 1),
            "Test failed:  no IGMPv2 response received from the router \n");
}

// A query or Hello whose checksum fails was damaged on the way or forged
// carelessly: it is counted, and neither answers the probe nor is listed.
TEST_F(BatteryTest, AQueryWithAWrongChecksumIsCountedNotBelieved) {
  auto corrupt = igmpV2Query(kLabRouter, kLabAsmGroup);
  corrupt[25] ^= 0x01U;  // Max Resp, after the 24-byte header with its Router Alert
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{corrupt, {kLabRouter, 0}, milliseconds(2500)}};

  const TestRecord& record = run(TestId::AnySourceMembership);

  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  const auto& igmp = std::get<MembershipDetails>(record.details);
  EXPECT_TRUE(igmp.queries.empty());
  EXPECT_FALSE(igmp.sawQueryForGroup);
  EXPECT_EQ(igmp.corruptQueries, 1);
  const auto pass = nlohmann::json::parse(passJson(PassTiming{}, reportBattery(findings())));
  EXPECT_EQ(pass["tests"][0]["corrupt_queries"], 1);
}

TEST_F(BatteryTest, AHelloWithAWrongChecksumIsCountedNotBelieved) {
  auto corrupt = pimHelloFrom(kLabRouter);
  corrupt.back() ^= 0x01U;
  auto& arrivals = network.scripts[SocketKind::PimCapture].arrivals;
  arrivals.push_back(Arrival{corrupt, {kLabRouter, 0}, milliseconds(1)});
  const net::Address other = *net::Address::parseV4("10.0.1.7");
  arrivals.push_back(Arrival{pimHelloFrom(other), {other, 0}, milliseconds(2)});

  const TestRecord& record = run(TestId::PimHello);

  const auto& pim = std::get<PimDetails>(record.details);
  ASSERT_EQ(pim.hellos.size(), 1U);
  EXPECT_EQ(pim.hellos[0].sender, other);
  EXPECT_EQ(pim.corruptMessages, 1);
  const auto pass = nlohmann::json::parse(passJson(PassTiming{}, reportBattery(findings())));
  EXPECT_EQ(pass["tests"][0]["corrupt_messages"], 1);
  EXPECT_FALSE(pass["tests"][0].contains("unlisted_hellos"));
}

// A capture stamps a query with its arrival, which may come while the capture
// is still opening: it is never before the probe began.
TEST_F(BatteryTest, AQueryThatArrivesWhileTheCaptureOpensIsNotBeforeTheProbeBegan) {
  const net::Address other = *net::Address::parseV4("239.1.1.1");
  network.captureOpensIn = milliseconds(15);
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV2Query(kLabRouter, other), {kLabRouter, 0}, milliseconds(0)},
      Arrival{igmpV2Query(kLabRouter, other), {kLabRouter, 0}, milliseconds(2500)}};

  const TestRecord& record = run(TestId::AnySourceMembership);

  const auto& igmp = std::get<MembershipDetails>(record.details);
  ASSERT_EQ(igmp.queries.size(), 2U);
  EXPECT_DOUBLE_EQ(igmp.queries[0].sinceProbeMs, 0.0);
  EXPECT_DOUBLE_EQ(igmp.queries[1].sinceProbeMs, 2500.0);
}

// Another program's stream must not stop because the tool left its group.
TEST_F(BatteryTest, MembershipTestsSendNoLeaveOrBlockForAGroupTheHostHolds) {
  ScriptedLab{}.install(network);
  network.heldGroups = {kLabAsmGroup, kLabSsmGroup};

  const TestRecord& v2 = run(TestId::AnySourceMembership);
  const TestRecord& v3 = run(TestId::SourceMembership);

  const auto sent = network.sentBy(SocketKind::IgmpCapture);
  ASSERT_EQ(sent.size(), 2U);
  EXPECT_EQ(sent[0].bytes[0], 0x16) << "the IGMPv2 report alone";
  EXPECT_EQ(sent[1].bytes[0], 0x22) << "the IGMPv3 report";
  EXPECT_EQ(sent[1].bytes[8], 5) << "ALLOW_NEW_SOURCES alone";
  EXPECT_TRUE(std::get<MembershipDetails>(v2.details).leaveWithheld);
  EXPECT_TRUE(std::get<MembershipDetails>(v3.details).leaveWithheld);
  EXPECT_EQ(v2.durationMs, 3000U) << "the windows stay as long";
}

TEST_F(BatteryTest, IgmpV3SendsAllowThenBlockAfterItsPauseAndSeesTheSourceQuery) {
  ScriptedLab{}.install(network);

  const TestRecord& record = run(TestId::SourceMembership);

  EXPECT_EQ(network.pauses, std::vector<std::uint32_t>{5000});
  const auto sent = network.sentBy(SocketKind::IgmpCapture);
  ASSERT_EQ(sent.size(), 2U);
  EXPECT_EQ(sent[0].bytes[8], 5) << "ALLOW_NEW_SOURCES";
  EXPECT_EQ(sent[1].bytes[8], 6) << "BLOCK_OLD_SOURCES";
  EXPECT_EQ(sent[0].destination.address.toString(), "224.0.0.22");
  EXPECT_EQ(sent[0].at, milliseconds(5000));
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
  EXPECT_EQ(record.durationMs, 8000U);
  EXPECT_NE(text().find("Test succeeded:  received IGMPv3 response from the first-hop router \n"),
            std::string::npos);
}

TEST_F(BatteryTest, IgmpAnswerIsHeardAfterAFloodBetweenTheReports) {
  auto& script = network.scripts[SocketKind::IgmpCapture];
  // A link busy with queries for other groups, 500 a second from the ALLOW on,
  // into a queue of 100; the router answers the BLOCK before the prober's
  // first read after it. A queue left unread until then is full and drops
  // the answer.
  script.queueCapacity = 100;
  const net::Address other = *net::Address::parseV4("239.9.9.9");
  for (int i = 1; i <= 1500; ++i) {
    script.arrivals.push_back(
        Arrival{igmpV2Query(kLabRouter, other), {kLabRouter, 0}, milliseconds(2 * i)});
  }
  script.replies = [](std::span<const std::uint8_t> sent, const net::Endpoint&) {
    std::vector<Arrival> answer;
    if (sent[8] == 6) {
      answer.push_back(Arrival{igmpV3Query(kLabRouter, kLabSsmGroup, kLabBeaconSource),
                               {kLabRouter, 0},
                               milliseconds(0)});
    }
    return answer;
  };
  const TestRecord& record = run(TestId::SourceMembership);
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
}

TEST_F(BatteryTest, IgmpV3TestCountsOnlyAnIgmpV3Query) {
  // A router held to IGMPv2 answers the BLOCK with an IGMPv2 query.
  network.scripts[SocketKind::IgmpCapture].replies = [](std::span<const std::uint8_t> sent,
                                                        const net::Endpoint&) {
    std::vector<Arrival> answer;
    if (sent[8] == 6) {
      answer.push_back(
          Arrival{igmpV2Query(kLabRouter, kLabSsmGroup), {kLabRouter, 0}, milliseconds(4)});
    }
    return answer;
  };
  const TestRecord& record = run(TestId::SourceMembership);
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  const auto& igmp = std::get<MembershipDetails>(record.details);
  ASSERT_EQ(igmp.queries.size(), 1U) << "the query is still recorded";
  EXPECT_EQ(igmp.queries[0].query.version, 2);
  EXPECT_NE(text().find("Test failed:  no IGMPv3 response received from the router \n"),
            std::string::npos);
}

TEST_F(BatteryTest, IgmpV2TestCountsAnIgmpV3QueryToo) {
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{igmpV3Query(kLabRouter, net::Address{}), {kLabRouter, 0}, milliseconds(2500)}};
  EXPECT_EQ(run(TestId::AnySourceMembership).outcome, TestOutcome::Succeeded);
}

TEST_F(BatteryTest, SsmBeaconOnAHostHeldToIgmpV2FailsBeforeJoining) {
  network.host.forcedIgmpVersion = net::KernelSetting{"net.ipv4.conf.all.force_igmp_version", 2};
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource);

  const TestRecord& record = run(TestId::SsmBeacon);

  EXPECT_EQ(text(), kSsmHeader + "The host does not support SSM <IGMPv3> \n");
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  EXPECT_FALSE(record.error.has_value());
  EXPECT_TRUE(network.memberships.empty()) << "a join without its source proves nothing";
  EXPECT_EQ(std::get<BeaconDetails>(record.details).heldToOldIgmp->value, 2);
  const PassFlags flags = flagsOf(findings());
  EXPECT_FALSE(flags.hostSsmCapable);
  EXPECT_FALSE(flags.ssmBeaconHeard);
}

TEST_F(BatteryTest, SsmBeaconOnAHostInIgmpV2CompatibilityModeFailsBeforeJoining) {
  // No setting: an IGMPv2 querier heard lately put the interface in v2 mode.
  network.host.igmpMode = 2;
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource);

  const TestRecord& record = run(TestId::SsmBeacon);

  EXPECT_EQ(text(), kSsmHeader + "The host does not support SSM <IGMPv3> \n");
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  EXPECT_TRUE(network.memberships.empty()) << "its join would leave without the source";
  const auto& beacon = std::get<BeaconDetails>(record.details);
  EXPECT_EQ(beacon.heldInIgmpMode, 2);
  EXPECT_FALSE(beacon.heldToOldIgmp.has_value());
  EXPECT_FALSE(flagsOf(findings()).hostSsmCapable);
}

TEST_F(BatteryTest, SsmBeaconJoinsInIgmpV3ModeAndTheAsmBeaconIgnoresTheMode) {
  network.host.igmpMode = 3;
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource);
  EXPECT_EQ(run(TestId::SsmBeacon).outcome, TestOutcome::Succeeded);

  // ASM joins work in every version.
  network.host.igmpMode = 1;
  EXPECT_EQ(run(TestId::AsmBeacon).outcome, TestOutcome::Succeeded);
  EXPECT_FALSE(std::get<BeaconDetails>(findings().find(TestId::AsmBeacon)->details)
                   .heldInIgmpMode.has_value());
}

TEST(Ipv6BatteryTest, SsmBeaconFailsOnAHostHeldToMldV1AndOnlyThen) {
  PassSetup setup;
  setup.family = net::Family::V6;
  setup.link.chosen = net::LinkInterface{
      "eth0", kLabInterfaceIndex, *net::Address::parseV6("fe80::2"), net::ChosenBy::Option, 64};
  setup.asmGroup = options::AsmGroup{*net::Address::parseV6("ff3e:20:2001:db8::19"), 10002};
  setup.ssmChannel = options::SsmChannel{*net::Address::parseV6("2001:db8::20"),
                                         *net::Address::parseV6("ff3e::120"), 8020};
  const auto runSsm = [&](const net::HostMulticastState& host) {
    ScriptedNetwork network;
    network.host = host;
    PassObserver quiet;
    PassFindings findings = freshFindings(net::Family::V6);
    TestRecord& record = *findings.find(TestId::SsmBeacon);
    runTest(batteryTest(TestId::SsmBeacon, net::Family::V6), network, setup, quiet, record);
    return std::pair{record, network.memberships.size()};
  };
  net::HostMulticastState held;
  held.forcedMldVersion = net::KernelSetting{"net.ipv6.conf.eth0.force_mld_version", 1};
  const auto [refused, joins] = runSsm(held);
  EXPECT_EQ(refused.outcome, TestOutcome::Failed);
  EXPECT_EQ(std::get<BeaconDetails>(refused.details).heldToOldIgmp->value, 1);
  EXPECT_EQ(joins, 0U);

  // IPv4's setting holds no IPv6 join back.
  net::HostMulticastState igmpOnly;
  igmpOnly.forcedIgmpVersion = net::KernelSetting{"net.ipv4.conf.all.force_igmp_version", 2};
  const auto [joined, joinsMade] = runSsm(igmpOnly);
  EXPECT_FALSE(std::get<BeaconDetails>(joined.details).heldToOldIgmp.has_value());
  EXPECT_GT(joinsMade, 0U);
}

TEST(Ipv6BatteryTest, PlatformWithoutRouterAlertOrIpv6CaptureEndsOnlyThoseTestsAndSaysWhy) {
  PassSetup setup;
  setup.family = net::Family::V6;
  setup.link.chosen = net::LinkInterface{
      "eth0", kLabInterfaceIndex, *net::Address::parseV6("fe80::2"), net::ChosenBy::Option, 64};
  setup.asmGroup = options::AsmGroup{*net::Address::parseV6("ff3e:20:2001:db8::19"), 10002};
  setup.ssmChannel = options::SsmChannel{*net::Address::parseV6("2001:db8::20"),
                                         *net::Address::parseV6("ff3e::120"), 8020};
  ScriptedNetwork network;
  const std::string routerAlert = "the IPv6 Router Alert option that every MLD message carries";
  for (const int nth : {0, 1}) {
    network.failures.push_back(
        ScriptedFailure{SocketKind::IgmpCapture, nth, "IPV6_HOPOPTS", 10042, 0, routerAlert});
  }
  network.failures.push_back(ScriptedFailure{SocketKind::PimCapture, 0, "SIO_RCVALL", 10045, 0,
                                             "a capture of the IPv6 PIM messages on the link"});
  // The scripted platform checks the receive-all mode under the call's own name.
  network.failures.back().call = "WSAIoctl";
  std::ostringstream out;
  TextOutput text(out);
  PassFindings findings;
  runPassInto(network, setup, text, findings);

  for (const TestId id :
       {TestId::AnySourceMembership, TestId::SourceMembership, TestId::PimHello}) {
    const TestRecord& record = *findings.find(id);
    EXPECT_EQ(record.outcome, TestOutcome::Error) << record.number;
    ASSERT_TRUE(record.error.has_value());
    EXPECT_EQ(record.error->kind, TestError::Kind::PlatformLacks);
  }
  EXPECT_NE(out.str().find("This platform cannot run the test: it lacks " + routerAlert +
                           " (IPV6_HOPOPTS) \n"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("it lacks a capture of the IPv6 PIM messages on the link"),
            std::string::npos);
  // The pass went on: the ping after the MLD tests ran, and the report came.
  EXPECT_TRUE(findings.find(TestId::PimRoutersPing)->ran);
  EXPECT_FALSE(findings.find(TestId::PimRoutersPing)->error.has_value());
  EXPECT_NE(out.str().find("Report"), std::string::npos);

  const auto pass = nlohmann::json::parse(passJson(PassTiming{}, reportBattery(findings)));
  EXPECT_EQ(pass["tests"][4]["error"]["call"], "IPV6_HOPOPTS");
  EXPECT_EQ(pass["tests"][4]["error"]["platform_lacks"], routerAlert);
}

TEST_F(BatteryTest, AsmBeaconIsNotHeldBackByAnOldIgmpVersion) {
  network.host.forcedIgmpVersion = net::KernelSetting{"net.ipv4.conf.all.force_igmp_version", 2};
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource);
  EXPECT_EQ(run(TestId::AsmBeacon).outcome, TestOutcome::Succeeded);
}

TEST_F(BatteryTest, BeaconCaptureKeepsTheChannelsOwnTrafficAndItsLowestTtl) {
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource, 3);
  const net::Address stranger = *net::Address::parseV4("198.51.100.99");
  auto& onLink = network.scripts[SocketKind::BeaconCapture].arrivals;
  onLink = beaconsOnLink(kLabBeaconSource, 14);
  onLink.push_back(Arrival{beaconOnLink(kLabBeaconSource, kLabSsmGroup, 8020, 9),
                           {kLabBeaconSource, 0},
                           milliseconds(900)});
  // Another sender to the channel's group is not the channel.
  onLink.push_back(
      Arrival{beaconOnLink(stranger, kLabSsmGroup, 8020), {stranger, 0}, milliseconds(100)});

  const TestRecord& record = run(TestId::SsmBeacon);

  ASSERT_EQ(network.beaconCaptureRequests.size(), 1U);
  EXPECT_EQ(network.beaconCaptureRequests[0].destination, (net::Endpoint{kLabSsmGroup, 8020}));
  EXPECT_EQ(network.beaconCaptureRequests[0].source, kLabBeaconSource);
  const auto& beacon = std::get<BeaconDetails>(record.details);
  ASSERT_TRUE(beacon.onLink.has_value());
  ASSERT_EQ(beacon.onLink->size(), 1U);
  EXPECT_EQ((*beacon.onLink)[0].address, kLabBeaconSource);
  EXPECT_EQ((*beacon.onLink)[0].datagrams, 21);
  EXPECT_EQ((*beacon.onLink)[0].lowestTtl, 9);
  EXPECT_FALSE((*beacon.onLink)[0].routeInterfaces.has_value())
      << "the route back is asked for only when the socket took nothing";
}

TEST_F(BatteryTest, BeaconDroppedByTheHostIsSeenOnTheLinkWithTheRouteBack) {
  network.scripts[SocketKind::BeaconCapture].arrivals = beaconsOnLink(kLabBeaconSource);
  network.routes[kLabBeaconSource] = {"eth1"};
  const TestRecord& record = run(TestId::AsmBeacon);
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  const auto& beacon = std::get<BeaconDetails>(record.details);
  EXPECT_TRUE(droppedByHost(beacon));
  EXPECT_EQ((*beacon.onLink)[0].routeInterfaces, std::vector<std::string>{"eth1"});
}

// A host on the link sending to the beacon from forged sources: the members
// and the capture's senders stop at their bounds, the rest is counted, and the
// JSON says so while staying small.
TEST_F(BatteryTest, AsmBeaconFromAFloodOfForgedSourcesIsKeptToABoundAndCounted) {
  auto& arrivals = network.scripts[SocketKind::Receiver].arrivals;
  auto& onLink = network.scripts[SocketKind::BeaconCapture].arrivals;
  // Highest address first, so that keeping the first heard is not address order.
  for (std::uint32_t i = 400; i > 0; --i) {
    const net::Address forged = net::Address::v4(0x0A000000U + i);
    arrivals.push_back(Arrival{{0x80}, {forged, 5004}, milliseconds(1)});
    onLink.push_back(
        Arrival{beaconOnLink(forged, kLabAsmGroup, 10002), {forged, 0}, milliseconds(1)});
  }
  // A member already kept adds to its own count, not to the unlisted.
  arrivals.push_back(Arrival{{0x80}, {net::Address::v4(0x0A000000U + 400), 5004}, milliseconds(2)});

  const TestRecord& record = run(TestId::AsmBeacon);

  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
  const auto& beacon = std::get<BeaconDetails>(record.details);
  ASSERT_EQ(beacon.members.size(), kMaxBeaconMembersKept);
  EXPECT_EQ(beacon.unlistedMemberDatagrams, 400 - 256);
  EXPECT_EQ(beacon.members.front().address, net::Address::v4(0x0A000000U + 145));
  EXPECT_EQ(beacon.members.back().address, net::Address::v4(0x0A000000U + 400));
  EXPECT_EQ(beacon.members.back().datagrams, 2);
  EXPECT_TRUE(std::is_sorted(
      beacon.members.begin(), beacon.members.end(),
      [](const BeaconMember& a, const BeaconMember& b) { return a.address < b.address; }));
  ASSERT_TRUE(beacon.onLink.has_value());
  EXPECT_EQ(beacon.onLink->size(), kMaxLinkSendersKept);
  EXPECT_EQ(beacon.unlistedLinkDatagrams, 400 - 256);
  EXPECT_LT(beacon.onLink->front().address, beacon.onLink->back().address);

  const std::string text = passJson(PassTiming{}, reportBattery(findings()));
  EXPECT_LT(text.size(), 64U * 1024U);
  const auto pass = nlohmann::json::parse(text);
  EXPECT_EQ(pass["tests"][0]["members"].size(), 256U);
  EXPECT_EQ(pass["tests"][0]["unlisted_member_datagrams"], 144);
}

TEST_F(BatteryTest, BeaconTestGoesOnWhenTheLinkCannotBeCaptured) {
  network.failures.push_back({SocketKind::BeaconCapture, 0, "socket", 1});
  network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource);
  const TestRecord& record = run(TestId::AsmBeacon);
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
  EXPECT_FALSE(std::get<BeaconDetails>(record.details).onLink.has_value());
}

TEST_F(BatteryTest, IgmpSendFailureEndsTheTestWithoutAResultLine) {
  network.failures.push_back({SocketKind::IgmpCapture, 0, "sendTo", 101});
  const TestRecord& record = run(TestId::SourceMembership);
  EXPECT_EQ(text(),
            "\t6.  Detecting if there is IGMPv3 capability to first-hop router \n"
            "Exception while running test : sendTofailed with error code : 101\n");
  EXPECT_EQ(record.outcome, TestOutcome::Error);
  EXPECT_TRUE(std::get<MembershipDetails>(record.details).queries.empty());
}

TEST_F(BatteryTest, IgmpCaptureWithoutAnInterfaceReportsHowFindingItFailed) {
  setup.link = net::PassLink{std::nullopt, net::CV_SocketException(-3, "getaddrinfo")};
  run(TestId::AnySourceMembership);
  EXPECT_EQ(text(),
            "\t5.  Detecting if there is IGMPv2 capability to first-hop router \n"
            "Exception while running test : getaddrinfofailed with error code : -3\n");
}

TEST_F(BatteryTest, PimHelloRecordsTheRoutersOptionsAndNamesItResponder) {
  ScriptedLab{}.install(network);

  const TestRecord& record = run(TestId::PimHello);

  EXPECT_EQ(text(),
            "\t8.  Detecting if first-hop router knows about an RP \n"
            "Test succeeded:  received responses to Hello Message \n");
  const auto sent = network.sentBy(SocketKind::PimCapture);
  ASSERT_EQ(sent.size(), 2U);
  EXPECT_EQ(sent[0].destination.address.toString(), "224.0.0.13");
  EXPECT_EQ(sent[0].bytes[0], 0x20) << "a PIMv2 Hello";
  // Once the window is over the same neighbour says goodbye: Holdtime 0.
  EXPECT_EQ(sent[0].bytes[9], 30);
  EXPECT_EQ(sent[1].bytes[9], 0);
  EXPECT_TRUE(
      std::equal(sent[0].bytes.begin() + 10, sent[0].bytes.end(), sent[1].bytes.begin() + 10))
      << "same Generation ID";
  EXPECT_EQ(sent[1].destination.address.toString(), "224.0.0.13");
  EXPECT_EQ(sent[1].at - sent[0].at, milliseconds(5000));
  const auto& pim = std::get<PimDetails>(record.details);
  ASSERT_EQ(pim.hellos.size(), 1U);
  EXPECT_EQ(pim.hellos[0].sender, kLabRouter);
  EXPECT_EQ(pim.hellos[0].options.holdtimeSeconds, 105);
  EXPECT_EQ(pim.hellos[0].options.drPriority, 1U);
  EXPECT_EQ(pim.hellos[0].options.generationId, 0x0BADCAFEU);
  EXPECT_EQ(record.durationMs, 5000U) << "the PIM test listens its whole window";
  EXPECT_EQ(pimResponderText(findings()), "10.0.1.1, ");
}

TEST_F(BatteryTest, PimRpAdvertisementAloneAnswersWithTheRp) {
  const net::Address rp = *net::Address::parseV4("10.255.0.1");
  network.scripts[SocketKind::PimCapture].arrivals = {
      Arrival{candidateRpAdvertisement(rp), {rp, 0}, milliseconds(100)}};
  const TestRecord& record = run(TestId::PimHello);
  EXPECT_EQ(text().substr(text().find('\n') + 1),
            "Test succeeded:  first-hop router responded with RP \n");
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
  EXPECT_EQ(pimResponderText(findings()), "10.255.0.1, ");
}

TEST_F(BatteryTest, PimBootstrapIsNoRpEvidenceOverIpv4) {
  const net::Address bsr = *net::Address::parseV4("10.255.0.1");
  const std::vector<std::uint8_t> bootstrap{0x24, 0, 0, 0, 0, 1, 30, 0, 1, 0, 10, 255, 0, 1};
  network.scripts[SocketKind::PimCapture].arrivals = {
      Arrival{ipv4(103, bsr, net::kAllPimRoutersGroup, withChecksum(bootstrap)),
              {bsr, 0},
              milliseconds(100)}};
  const TestRecord& record = run(TestId::PimHello);
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  EXPECT_TRUE(std::get<PimDetails>(record.details).rpAdvertisers.empty());
}

TEST_F(BatteryTest, PimSilenceFails) {
  const TestRecord& record = run(TestId::PimHello);
  EXPECT_EQ(text().substr(text().find('\n') + 1),
            "Test failed:  no router responded to PIM-SM Hello \n");
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
}

TEST_F(BatteryTest, PimHellosFromAFloodOfSourcesAreKeptToABound) {
  auto& arrivals = network.scripts[SocketKind::PimCapture].arrivals;
  for (std::uint32_t i = 0; i < 300; ++i) {
    const net::Address forged = net::Address::v4(0x0A000000U + i + 1);
    arrivals.push_back(Arrival{pimHelloFrom(forged, i), {forged, 0}, milliseconds(1)});
  }
  // A later Hello of a neighbour already heard replaces its first.
  arrivals.push_back(Arrival{pimHelloFrom(net::Address::v4(0x0A000001U), 77),
                             {net::Address::v4(0x0A000001U), 0},
                             milliseconds(2)});
  const TestRecord& record = run(TestId::PimHello);
  const auto& pim = std::get<PimDetails>(record.details);
  ASSERT_EQ(pim.hellos.size(), 256U);
  EXPECT_EQ(pim.hellos[0].options.generationId, 77U);
  EXPECT_EQ(pim.hellos[255].sender, net::Address::v4(0x0A000100U));
  EXPECT_EQ(pim.unlistedHellos, 300 - 256);
  const auto pass = nlohmann::json::parse(passJson(PassTiming{}, reportBattery(findings())));
  EXPECT_EQ(pass["tests"][0]["unlisted_hellos"], 44);
  EXPECT_FALSE(pass["tests"][0].contains("unlisted_rp_advertisements"));
}

TEST_F(BatteryTest, PimListeningFailureIsTheDescriptionAlone) {
  network.failures.push_back({SocketKind::PimCapture, 0, "select", 4});
  const TestRecord& record = run(TestId::PimHello);
  EXPECT_EQ(text(),
            "\t8.  Detecting if first-hop router knows about an RP \n"
            "Exception while running test : selectfailed with error code : 4\n");
  EXPECT_EQ(record.outcome, TestOutcome::Error);
}

}  // namespace
