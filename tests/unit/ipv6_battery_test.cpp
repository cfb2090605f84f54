// Each test of the IPv6 battery against a scripted IPv6 lab: what it sends,
// where and when, what it records, the lines it prints, and how it ends when
// the router stays silent or answers in an older protocol.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/battery.h"
#include "app/text_output.h"
#include "net/capture/capture_filter.h"
#include "net/packet/checksum.h"
#include "net/packet/wire.h"
#include "tests/unit/ipv6_captures.h"
#include "tests/unit/scripted_lab6.h"

namespace {

using namespace testing_support;

const std::string kRunning = "Running 8 Tests : \n";
const std::string kAsmHeader =
    "\t1.  Joining the IPv6 any-source beacon group ff3e:20:2001:db8::19, port 10002 \n";
const std::string kSsmHeader =
    "\t2.  Joining the IPv6 source-specific beacon channel (2001:db8::20, ff3e::120), port 8020 "
    "\n";
const std::string kMldV1Header = "\t5.  Probing the first-hop router with MLDv1 \n";
const std::string kMldV2Header = "\t6.  Probing the first-hop router with MLDv2 \n";
const std::string kPimHeader = "\t8.  Saying PIM Hello to the routers on the link \n";

// The link-local groups a probe sends to, in the zone of the lab's interface.
net::Address onLabLink(const char* group) {
  return net::Address::parseV6(group)->withScope(kLabInterfaceIndex);
}

class ScriptedIpv6Battery : public ::testing::Test {
 protected:
  ScriptedIpv6Battery() { output_.passBegins(findings_); }

  // Runs one test of the IPv6 battery into its record; its lines go to text().
  const TestRecord& run(TestId id) {
    TestRecord& record = *findings_.find(id);
    runTest(batteryTest(id, net::Family::V6), network, setup, output_, record);
    return record;
  }
  // What the test printed, after the pass's own first line.
  [[nodiscard]] std::string text() const { return out_.str().substr(kRunning.size()); }
  [[nodiscard]] const PassFindings& findings() const { return findings_; }

  ScriptedNetwork network;
  PassSetup setup = labSetup6();

 private:
  std::ostringstream out_;
  TextOutput output_{out_};
  PassFindings findings_ = freshFindings(net::Family::V6);
};

TEST_F(ScriptedIpv6Battery, AsmBeaconHearsTheLabsSourceAndSeesItOnTheLink) {
  ScriptedLab6{}.install(network);

  const TestRecord& record = run(TestId::AsmBeacon);

  EXPECT_EQ(text(), kAsmHeader + "Test succeeded:  heard 1 member \n");
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
  EXPECT_EQ(record.durationMs, 2000U);
  const auto& beacon = std::get<BeaconDetails>(record.details);
  EXPECT_EQ(beacon.group, kLab6AsmGroup);
  EXPECT_FALSE(beacon.source.has_value());
  ASSERT_EQ(beacon.members.size(), 1U);
  EXPECT_EQ(beacon.members[0].address, kLab6BeaconSource);
  EXPECT_EQ(beacon.members[0].datagrams, 20);
  // The join and the leave, on the pass's interface and with no source.
  ASSERT_EQ(network.memberships.size(), 2U);
  EXPECT_EQ(network.memberships[0].change, net::Membership::Join);
  EXPECT_EQ(network.memberships[0].group, kLab6AsmGroup);
  EXPECT_FALSE(network.memberships[0].source.has_value());
  EXPECT_EQ(network.memberships[0].interfaceIndex, kLabInterfaceIndex);
  EXPECT_EQ(network.memberships[1].change, net::Membership::Leave);
  // The link capture asked for the group's own port and kept only its datagrams.
  ASSERT_EQ(network.beaconCaptureRequests.size(), 1U);
  EXPECT_EQ(network.beaconCaptureRequests[0].destination, (net::Endpoint{kLab6AsmGroup, 10002}));
  ASSERT_TRUE(beacon.onLink.has_value());
  ASSERT_EQ(beacon.onLink->size(), 1U);
  EXPECT_EQ((*beacon.onLink)[0].datagrams, 20);
  EXPECT_EQ((*beacon.onLink)[0].lowestTtl, kLab6BeaconHopLimit) << "the hop limit, for IPv6";
  EXPECT_TRUE(flagsOf(findings()).asmBeaconHeard);
}

TEST_F(ScriptedIpv6Battery, AsmBeaconCountsEverySenderAndSaysMembers) {
  ScriptedLab6{}.install(network);
  const auto second = beaconDatagrams(*net::Address::parseV6("2001:db8::21"), 3);
  auto& arrivals = network.scripts[SocketKind::Receiver].arrivals;
  arrivals.insert(arrivals.end(), second.begin(), second.end());

  const TestRecord& record = run(TestId::AsmBeacon);

  EXPECT_EQ(text(), kAsmHeader + "Test succeeded:  heard 2 members \n");
  const auto& members = std::get<BeaconDetails>(record.details).members;
  ASSERT_EQ(members.size(), 2U);
  EXPECT_EQ(members[0].address.toString(), "2001:db8::20");
  EXPECT_EQ(members[1].address.toString(), "2001:db8::21");
  EXPECT_EQ(members[1].datagrams, 3);
}

TEST_F(ScriptedIpv6Battery, SsmBeaconJoinsTheChannelAfterItsPauseAndHearsItsSource) {
  ScriptedLab6{}.install(network);

  const TestRecord& record = run(TestId::SsmBeacon);

  EXPECT_EQ(text(), kSsmHeader + "Test succeeded:  heard 1 member \n");
  EXPECT_EQ(network.pauses, std::vector<std::uint32_t>{2000});
  EXPECT_EQ(record.durationMs, 4000U);
  ASSERT_EQ(network.memberships.size(), 2U);
  EXPECT_EQ(network.memberships[0].group, kLab6SsmGroup);
  EXPECT_EQ(network.memberships[0].source, kLab6BeaconSource);
  EXPECT_EQ(network.memberships[1].change, net::Membership::Leave);
  EXPECT_EQ(network.memberships[1].source, kLab6BeaconSource);
  const auto& beacon = std::get<BeaconDetails>(record.details);
  EXPECT_EQ(beacon.source, kLab6BeaconSource);
  ASSERT_EQ(beacon.members.size(), 1U);
  EXPECT_EQ(beacon.members[0].address, kLab6BeaconSource);
  ASSERT_EQ(network.beaconCaptureRequests.size(), 1U);
  EXPECT_EQ(network.beaconCaptureRequests[0].source, kLab6BeaconSource);
  ASSERT_EQ(beacon.onLink->size(), 1U);
  EXPECT_EQ((*beacon.onLink)[0].datagrams, 20) << "the channel's datagrams, not the group's";
  const PassFlags flags = flagsOf(findings());
  EXPECT_TRUE(flags.hostSsmCapable);
  EXPECT_TRUE(flags.ssmBeaconHeard);
}

TEST_F(ScriptedIpv6Battery, BeaconsThatNeverComeFailBothTestsButTheHostJoined) {
  run(TestId::AsmBeacon);
  const TestRecord& ssm = run(TestId::SsmBeacon);
  EXPECT_EQ(text(), kAsmHeader + "Test failed:  heard no member \n" + kSsmHeader +
                        "Test failed:  heard no member \n");
  EXPECT_EQ(ssm.outcome, TestOutcome::Failed);
  EXPECT_EQ(ssm.durationMs, 4000U) << "the whole window";
  const PassFlags flags = flagsOf(findings());
  EXPECT_TRUE(flags.hostAsmCapable);
  EXPECT_TRUE(flags.hostSsmCapable);
  EXPECT_FALSE(flags.asmBeaconHeard);
  EXPECT_FALSE(flags.ssmBeaconHeard);
}

TEST_F(ScriptedIpv6Battery, BeaconsTheHostDropsAreSeenOnTheLinkWithTheRouteBack) {
  ScriptedLab6 lab;
  lab.beaconsOnLinkOnly = true;
  lab.install(network);
  network.routes[kLab6BeaconSource] = {"eth0"};

  const TestRecord& record = run(TestId::SsmBeacon);

  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  const auto& beacon = std::get<BeaconDetails>(record.details);
  EXPECT_TRUE(droppedByHost(beacon));
  EXPECT_EQ((*beacon.onLink)[0].address, kLab6BeaconSource);
  EXPECT_EQ((*beacon.onLink)[0].routeInterfaces, std::vector<std::string>{"eth0"});
}

TEST_F(ScriptedIpv6Battery, RefusedJoinsSayWhichJoinFailedAndThatTheHostCannotDoMldV2) {
  network.failures.push_back({SocketKind::Receiver, 0, "SetOption", 19});
  network.failures.push_back({SocketKind::Receiver, 1, "SetOption", 22});
  const TestRecord& asmBeacon = run(TestId::AsmBeacon);
  const TestRecord& ssm = run(TestId::SsmBeacon);
  EXPECT_EQ(text(), kAsmHeader +
                        "Joining the beacon group failed: Exception while running test : "
                        "SetOptionfailed with error code : 19\n" +
                        kSsmHeader +
                        "Joining the beacon channel failed: Exception while running test : "
                        "SetOptionfailed with error code : 22\n"
                        "The host cannot join IPv6 source-specific channels (MLDv2) \n");
  EXPECT_EQ(asmBeacon.outcome, TestOutcome::Error);
  EXPECT_EQ(ssm.error->code, 22);
  const PassFlags flags = flagsOf(findings());
  EXPECT_FALSE(flags.hostAsmCapable);
  EXPECT_FALSE(flags.hostSsmCapable);
}

// Tests 3, 4 and 7: one echo request each to its link-local group, in the
// zone of the pass's interface; the router's first reply ends the wait. They
// print no result line of their own.
struct RouterPing {
  TestId id;
  const char* group;
  const char* header;
};
const RouterPing kRouterPings[] = {
    {TestId::AllRoutersPing, "ff02::2", "\t3.  Pinging ff02::2, the routers on the link \n"},
    {TestId::SsmRoutersPing, "ff02::16",
     "\t4.  Pinging ff02::16, the MLDv2-capable routers on the link \n"},
    {TestId::PimRoutersPing, "ff02::d", "\t7.  Pinging ff02::d, the PIM routers on the link \n"},
};

TEST(ScriptedIpv6Ping, EachGroupIsPingedOnceAndTheRoutersReplyRecorded) {
  for (const RouterPing& ping : kRouterPings) {
    ScriptedNetwork network;
    ScriptedLab6{}.install(network);
    std::ostringstream out;
    TextOutput text(out);
    PassFindings findings = freshFindings(net::Family::V6);
    text.passBegins(findings);
    TestRecord& record = *findings.find(ping.id);
    runTest(batteryTest(ping.id, net::Family::V6), network, labSetup6(), text, record);

    EXPECT_EQ(out.str(), kRunning + ping.header) << ping.group;
    const auto requests = network.sentBy(SocketKind::Pinger);
    ASSERT_EQ(requests.size(), 1U) << ping.group;
    EXPECT_EQ(requests[0].destination.address, onLabLink(ping.group));
    const std::vector<std::uint8_t>& request = requests[0].bytes;
    ASSERT_EQ(request.size(), 8U);
    EXPECT_EQ(request[0], 128) << "an ICMPv6 echo request";
    EXPECT_EQ(request[1], 0);
    // The kernel filter keeps the replies that carry the request's identifier.
    const net::CaptureRequest& replies = network.requests[SocketKind::Pinger];
    EXPECT_EQ(replies.messageTypes, std::vector<std::uint8_t>{129});
    EXPECT_EQ(replies.echoIdentifier, static_cast<std::uint16_t>((request[4] << 8U) | request[5]));
    std::array<char, 8> identifier{};
    std::snprintf(identifier.data(), identifier.size(), "0x%02x%02x", request[4], request[5]);
    EXPECT_EQ(net::expressionFromIcmpv6Message(replies),
              std::string("link[0] == 129 and link[4:2] == ") + identifier.data());

    const auto& details = std::get<PingDetails>(record.details);
    EXPECT_EQ(details.group, *net::Address::parseV6(ping.group));
    ASSERT_EQ(details.replies.size(), 1U);
    EXPECT_EQ(details.replies[0].from, kLab6Router);
    EXPECT_DOUBLE_EQ(details.replies[0].roundTripMs, 1.0);
    EXPECT_EQ(record.durationMs, 1U) << "the first reply ends the wait";
    EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
  }
}

TEST(ScriptedIpv6Ping, NoReplyAnotherPingersReplyOrTheRequestItselfWaitTheWholeTimeAndFail) {
  // What reaches the pinger instead of its reply: nothing, the reply to
  // another process's identifier, or its own request looped back.
  using Answer = std::function<std::vector<Arrival>(std::span<const std::uint8_t>)>;
  const Answer answers[] = {
      [](std::span<const std::uint8_t>) { return std::vector<Arrival>{}; },
      [](std::span<const std::uint8_t> request) {
        std::vector<std::uint8_t> other(request.begin(), request.end());
        other[4] ^= 0xFFU;
        return std::vector<Arrival>{
            Arrival{echoReply6To(other, kLab6Router), {kLab6Router, 0}, milliseconds(1)}};
      },
      [](std::span<const std::uint8_t> request) {
        const std::vector<std::uint8_t> looped(request.begin(), request.end());
        return std::vector<Arrival>{Arrival{
            ipv6(net::kIcmpv6Protocol, kLab6Host, *net::Address::parseV6("ff02::2"), looped),
            {kLab6Host, 0},
            milliseconds(1)}};
      },
  };
  for (const RouterPing& ping : kRouterPings) {
    for (std::size_t answer = 0; answer < std::size(answers); ++answer) {
      ScriptedNetwork network;
      network.scripts[SocketKind::Pinger].replies =
          [&, answer](std::span<const std::uint8_t> request, const net::Endpoint&) {
            return answers[answer](request);
          };
      std::ostringstream out;
      TextOutput text(out);
      PassFindings findings = freshFindings(net::Family::V6);
      text.passBegins(findings);
      TestRecord& record = *findings.find(ping.id);
      runTest(batteryTest(ping.id, net::Family::V6), network, labSetup6(), text, record);

      EXPECT_EQ(record.outcome, TestOutcome::Failed) << ping.group << " " << answer;
      EXPECT_TRUE(std::get<PingDetails>(record.details).replies.empty());
      EXPECT_EQ(record.durationMs, 2000U) << ping.group << " " << answer;
      EXPECT_EQ(out.str(), kRunning + ping.header) << "a failed ping prints nothing either";
    }
  }
}

TEST_F(ScriptedIpv6Battery, MldV1SendsReportThenDoneAndTheRoutersGroupQueryAnswers) {
  ScriptedLab6{}.install(network);

  const TestRecord& record = run(TestId::AnySourceMembership);

  EXPECT_EQ(text(),
            kMldV1Header + "Test succeeded:  the first-hop router answered with an MLDv1 query \n");
  const auto sent = network.sentBy(SocketKind::IgmpCapture);
  ASSERT_EQ(sent.size(), 2U);
  // A Report to the group itself, then a Done to all routers two seconds later.
  EXPECT_EQ(sent[0].bytes.size(), 24U);
  EXPECT_EQ(sent[0].bytes[0], 131) << "an MLDv1 Report";
  EXPECT_EQ(sent[0].destination.address, kLab6AsmGroup.withScope(kLabInterfaceIndex));
  EXPECT_EQ(sent[1].bytes[0], 132) << "an MLDv1 Done";
  EXPECT_EQ(sent[1].destination.address, onLabLink("ff02::2"));
  for (const Sent& message : sent) {
    EXPECT_EQ(*net::Address::fromBytes(std::span(message.bytes).subspan(8, 16)), kLab6AsmGroup);
  }
  EXPECT_EQ(sent[1].at - sent[0].at, milliseconds(2000));

  const auto& mld = std::get<MembershipDetails>(record.details);
  EXPECT_EQ(mld.group, kLab6AsmGroup);
  // pim6d queries in MLDv2, which the MLDv1 test counts; its repetition a
  // second later falls after the window.
  ASSERT_EQ(mld.queries.size(), 1U);
  const MembershipQuery& query = mld.queries[0].query;
  EXPECT_EQ(query.sender, kLab6Router);
  EXPECT_EQ(query.group, kLab6AsmGroup);
  EXPECT_EQ(query.version, 2);
  EXPECT_EQ(query.maxResponseMs, 10000U);
  EXPECT_DOUBLE_EQ(mld.queries[0].sinceProbeMs, 2004.0);
  EXPECT_TRUE(mld.sawQueryForGroup);
  EXPECT_EQ(record.durationMs, 3000U);
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
}

TEST_F(ScriptedIpv6Battery, MldV2SendsAllowThenBlockAfterItsPauseAndSeesTheChannelQuery) {
  ScriptedLab6{}.install(network);

  const TestRecord& record = run(TestId::SourceMembership);

  EXPECT_EQ(text(),
            kMldV2Header + "Test succeeded:  the first-hop router answered with an MLDv2 query \n");
  EXPECT_EQ(network.pauses, std::vector<std::uint32_t>{5000});
  const auto sent = network.sentBy(SocketKind::IgmpCapture);
  ASSERT_EQ(sent.size(), 2U);
  for (const Sent& report : sent) {
    ASSERT_EQ(report.bytes.size(), 44U);
    EXPECT_EQ(report.bytes[0], 143) << "an MLDv2 Report";
    EXPECT_EQ(report.destination.address, onLabLink("ff02::16"));
    const std::span record6(report.bytes);
    EXPECT_EQ(*net::Address::fromBytes(record6.subspan(12, 16)), kLab6SsmGroup);
    EXPECT_EQ(*net::Address::fromBytes(record6.subspan(28, 16)), kLab6BeaconSource);
  }
  EXPECT_EQ(sent[0].bytes[8], 5) << "ALLOW_NEW_SOURCES";
  EXPECT_EQ(sent[1].bytes[8], 6) << "BLOCK_OLD_SOURCES";
  EXPECT_EQ(sent[0].at, milliseconds(5000));
  EXPECT_EQ(sent[1].at, milliseconds(7000));

  const auto& mld = std::get<MembershipDetails>(record.details);
  EXPECT_EQ(mld.lowestVersion, 2);
  ASSERT_EQ(mld.queries.size(), 1U);
  const MembershipQuery& query = mld.queries[0].query;
  EXPECT_EQ(query.sender, kLab6Router);
  EXPECT_EQ(query.group, kLab6SsmGroup);
  EXPECT_EQ(query.version, 2);
  EXPECT_EQ(query.sources, std::vector<net::Address>{kLab6BeaconSource});
  EXPECT_EQ(query.robustness, 2);
  EXPECT_EQ(query.queryIntervalSeconds, 125U);
  EXPECT_DOUBLE_EQ(mld.queries[0].sinceProbeMs, 2005.0);
  EXPECT_EQ(record.durationMs, 8000U);
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
}

TEST_F(ScriptedIpv6Battery, NoQuerierOnTheLinkFailsBothMldTestsAfterTheirWholeWindows) {
  ScriptedLab6 lab;
  lab.mldVersion = 0;
  lab.install(network);

  const TestRecord& v1 = run(TestId::AnySourceMembership);
  const TestRecord& v2 = run(TestId::SourceMembership);

  EXPECT_EQ(text(), kMldV1Header + "Test failed:  no MLDv1 query came from a router \n" +
                        kMldV2Header + "Test failed:  no MLDv2 query came from a router \n");
  for (const TestRecord* record : {&v1, &v2}) {
    EXPECT_EQ(record->outcome, TestOutcome::Failed);
    EXPECT_TRUE(std::get<MembershipDetails>(record->details).queries.empty());
  }
  EXPECT_EQ(v1.durationMs, 3000U);
  EXPECT_EQ(v2.durationMs, 8000U);
  // Both still sent their reports: silence is the router's.
  EXPECT_EQ(network.sentBy(SocketKind::IgmpCapture).size(), 4U);
}

TEST_F(ScriptedIpv6Battery, MldV1RouterAnswersTheDoneButItsQueryServesNoMldV2Probe) {
  // An MLDv1 router answers the Done, and the BLOCK if at all, with an MLDv1 query.
  network.scripts[SocketKind::IgmpCapture].replies = [](std::span<const std::uint8_t> sent,
                                                        const net::Endpoint&) {
    std::vector<Arrival> answer;
    const net::Address group = *net::Address::fromBytes(sent.subspan(sent[0] == 143 ? 12 : 8, 16));
    if (sent[0] == 132 || (sent[0] == 143 && sent[8] == 6)) {
      answer.push_back(Arrival{mldQuery(kLab6Router, group, 1), {kLab6Router, 0}, milliseconds(4)});
    }
    return answer;
  };

  const TestRecord& v1 = run(TestId::AnySourceMembership);
  const TestRecord& v2 = run(TestId::SourceMembership);

  EXPECT_EQ(v1.outcome, TestOutcome::Succeeded);
  const auto& v1Queries = std::get<MembershipDetails>(v1.details).queries;
  ASSERT_EQ(v1Queries.size(), 1U);
  EXPECT_EQ(v1Queries[0].query.version, 1);
  EXPECT_FALSE(v1Queries[0].query.robustness.has_value()) << "MLDv1 has no QRV";
  EXPECT_EQ(v2.outcome, TestOutcome::Failed);
  const auto& v2Details = std::get<MembershipDetails>(v2.details);
  ASSERT_EQ(v2Details.queries.size(), 1U) << "the query is still recorded";
  EXPECT_EQ(v2Details.queries[0].query.version, 1);
  EXPECT_FALSE(v2Details.sawQueryForGroup);
  EXPECT_EQ(text(), kMldV1Header +
                        "Test succeeded:  the first-hop router answered with an MLDv1 query \n" +
                        kMldV2Header + "Test failed:  no MLDv2 query came from a router \n");
}

TEST_F(ScriptedIpv6Battery, MldQueriesForOtherGroupsAreRecordedAndAGeneralOneCounts) {
  const net::Address other = *net::Address::parseV6("ff3e::999");
  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{mldQuery(kLab6Router, other), {kLab6Router, 0}, milliseconds(2500)}};
  const TestRecord& forOther = run(TestId::AnySourceMembership);
  EXPECT_EQ(forOther.outcome, TestOutcome::Failed);
  EXPECT_EQ(std::get<MembershipDetails>(forOther.details).queries.size(), 1U);

  network.scripts[SocketKind::IgmpCapture].arrivals = {
      Arrival{mldQuery(kLab6Router, net::anyAddress(net::Family::V6)),
              {kLab6Router, 0},
              milliseconds(2500)}};
  EXPECT_EQ(run(TestId::SourceMembership).outcome, TestOutcome::Succeeded);
}

TEST_F(ScriptedIpv6Battery, MldSendFailureEndsTheTestWithTheDescriptionAlone) {
  network.failures.push_back({SocketKind::IgmpCapture, 0, "sendTo", 101});
  const TestRecord& record = run(TestId::AnySourceMembership);
  EXPECT_EQ(text(), kMldV1Header +
                        "Exception while running test : sendTofailed with error code : "
                        "101\n");
  EXPECT_EQ(record.outcome, TestOutcome::Error);
}

TEST_F(ScriptedIpv6Battery, PimHelloGoesToAllPimRoutersAndTheRoutersHelloIsRecorded) {
  ScriptedLab6{}.install(network);

  const TestRecord& record = run(TestId::PimHello);

  EXPECT_EQ(text(), kPimHeader + "Test succeeded:  PIM routers answered the Hello \n");
  const auto sent = network.sentBy(SocketKind::PimCapture);
  ASSERT_EQ(sent.size(), 2U) << "the Hello, then its goodbye once the window is over";
  EXPECT_EQ(sent[0].destination.address, onLabLink("ff02::d"));
  EXPECT_EQ(sent[1].destination.address, onLabLink("ff02::d"));
  EXPECT_EQ(net::readBe16(sent[1].bytes, 8), 0) << "the goodbye's Holdtime";
  EXPECT_EQ(net::readBe32(sent[1].bytes, 22), net::readBe32(sent[0].bytes, 22))
      << "the goodbye comes from the same neighbour: its Generation ID";
  EXPECT_EQ(net::internetChecksum(
                sent[1].bytes,
                net::PseudoHeader{kLab6Host, net::allPimRoutersGroup(net::Family::V6), 103}),
            0);
  const std::vector<std::uint8_t>& hello = sent[0].bytes;
  ASSERT_EQ(hello.size(), 26U);
  EXPECT_EQ(hello[0], 0x20) << "a PIMv2 Hello";
  EXPECT_EQ(net::readBe16(hello, 8), 30) << "Holdtime";
  EXPECT_EQ(net::readBe32(hello, 14), 0U) << "DR Priority 0";
  // The tool sums the Hello itself, over the pseudo-header of the link-local
  // source the kernel sends it from.
  EXPECT_EQ(net::internetChecksum(
                hello, net::PseudoHeader{kLab6Host, net::allPimRoutersGroup(net::Family::V6), 103}),
            0);

  const auto& pim = std::get<PimDetails>(record.details);
  ASSERT_EQ(pim.hellos.size(), 1U);
  EXPECT_EQ(pim.hellos[0].sender, kLab6Router);
  EXPECT_EQ(pim.hellos[0].options.holdtimeSeconds, 105);
  EXPECT_EQ(pim.hellos[0].options.drPriority, 1U);
  EXPECT_EQ(pim.hellos[0].options.generationId, 0x0BADCAFEU);
  EXPECT_TRUE(pim.rpAdvertisers.empty());
  EXPECT_EQ(record.durationMs, 5000U) << "the PIM test listens its whole window";
  EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
}

TEST_F(ScriptedIpv6Battery, PimBootstrapOrRpAdvertisementAloneAnnouncesAnRp) {
  for (const auto* message :
       {&ipv6_captures::kPimBootstrap, &ipv6_captures::kPimCRpAdvertisement}) {
    ScriptedNetwork quietRouter;
    quietRouter.scripts[SocketKind::PimCapture].arrivals = {
        Arrival{*message, {kLab6Router, 0}, milliseconds(100)}};
    std::ostringstream out;
    TextOutput text(out);
    PassFindings pass = freshFindings(net::Family::V6);
    text.passBegins(pass);
    TestRecord& record = *pass.find(TestId::PimHello);
    runTest(batteryTest(TestId::PimHello, net::Family::V6), quietRouter, setup, text, record);
    EXPECT_EQ(record.outcome, TestOutcome::Succeeded);
    EXPECT_EQ(out.str(),
              kRunning + kPimHeader + "Test succeeded:  an RP is announced on the link \n");
    const auto& pim = std::get<PimDetails>(record.details);
    EXPECT_TRUE(pim.hellos.empty());
    ASSERT_EQ(pim.rpAdvertisers.size(), 1U);
  }
}

TEST_F(ScriptedIpv6Battery, NoPimRouterFailsAfterTheWholeWindow) {
  ScriptedLab6 lab;
  lab.pim = false;
  lab.install(network);
  const TestRecord& record = run(TestId::PimHello);
  EXPECT_EQ(text(), kPimHeader + "Test failed:  no PIM router answered the Hello \n");
  EXPECT_EQ(record.outcome, TestOutcome::Failed);
  EXPECT_EQ(record.durationMs, 5000U);
  EXPECT_EQ(network.sentBy(SocketKind::PimCapture).size(), 2U)
      << "the Hello and its goodbye still went out";
  EXPECT_FALSE(flagsOf(findings()).pimHelloAnswered);
}

}  // namespace
