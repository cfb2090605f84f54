// The report's conclusions as rules over the records of a pass: which hold
// for which findings, under which ids, and in which order.
#include "app/conclusions.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/battery.h"

namespace {

// What a pass may have found, each as the records of a real pass carry it.
enum class Found {
  HostAsm,          // test 1 joined, listened and left
  HostSsm,          // test 2 likewise
  AsmMember,        // test 1 heard a member
  SsmMember,        // test 2 heard a member
  AllRoutersReply,  // test 3
  SsmRoutersReply,  // test 4
  V2Query,          // test 5 saw a query for its group
  V3Query,          // test 6 likewise
  PimRoutersReply,  // test 7
  PimHello,         // test 8 heard a Hello
};

const net::Address kRouter = net::Address::v4(0x0A000101U);
const net::Address kRouter6 = *net::Address::parseV6("fe80::1");

PassFindings findingsWith(std::initializer_list<Found> found,
                          net::Family family = net::Family::V4) {
  PassFindings findings = freshFindings(family);
  const bool ipv4 = family == net::Family::V4;
  const net::Address router = ipv4 ? kRouter : kRouter6;
  const auto has = [&](Found what) {
    return std::find(found.begin(), found.end(), what) != found.end();
  };
  for (TestRecord& record : findings.tests) record.ran = true;
  const auto beacon = [&](TestId id, Found capable, Found member) {
    TestRecord& record = *findings.find(id);
    auto& details = record.details.emplace<BeaconDetails>();
    if (has(member)) details.members.push_back(BeaconMember{router, 3});
    // A host that cannot join ends the test with the refusal.
    if (!has(capable)) record.error = TestError{TestError::Kind::SocketCall, "SetOption", 105};
  };
  beacon(TestId::AsmBeacon, Found::HostAsm, Found::AsmMember);
  beacon(TestId::SsmBeacon, Found::HostSsm, Found::SsmMember);
  const auto ping = [&](TestId id, Found reply) {
    auto& details = findings.find(id)->details.emplace<PingDetails>();
    if (has(reply)) details.replies.push_back(EchoReply{router, 0.5});
  };
  ping(TestId::AllRoutersPing, Found::AllRoutersReply);
  ping(TestId::SsmRoutersPing, Found::SsmRoutersReply);
  ping(TestId::PimRoutersPing, Found::PimRoutersReply);
  findings.find(TestId::AnySourceMembership)
      ->details.emplace<MembershipDetails>()
      .sawQueryForGroup = has(Found::V2Query);
  findings.find(TestId::SourceMembership)->details.emplace<MembershipDetails>().sawQueryForGroup =
      has(Found::V3Query);
  auto& pim = findings.find(TestId::PimHello)->details.emplace<PimDetails>();
  if (has(Found::PimHello)) pim.hellos.push_back(NeighbourHello{router, {}});
  return findings;
}

std::vector<std::string> heldIds(const PassFindings& findings) {
  std::vector<std::string> ids;
  for (const HeldConclusion& held : conclusionsThatHold(findings)) ids.emplace_back(held.rule->id);
  return ids;
}

using Ids = std::vector<std::string>;

TEST(Conclusions, IdsAreStableUniqueAndInReportOrder) {
  Ids ids;
  for (const Conclusion& rule : conclusions()) ids.emplace_back(rule.id);
  const Ids ipv4{
      "host-asm",           "host-ssm",           "router-asm",          "path-asm",
      "router-ssm",         "path-ssm",           "path-ssm-not-setup",  "router-pim",
      "pim-active",         "asm-beacon-working", "path-asm-no-traffic", "ssm-beacon-working",
      "path-ssm-no-traffic"};
  Ids expected = ipv4;
  for (const std::string& id : ipv4) expected.push_back(id + "-ipv6");
  EXPECT_EQ(ids, expected);
}

TEST(Conclusions, AnIpv6PassHoldsOnlyIpv6RulesAndAnIpv4PassOnlyIpv4Rules) {
  const auto everything = {Found::HostAsm,   Found::HostSsm,         Found::AsmMember,
                           Found::SsmMember, Found::AllRoutersReply, Found::SsmRoutersReply,
                           Found::V2Query,   Found::V3Query,         Found::PimRoutersReply,
                           Found::PimHello};
  EXPECT_EQ(heldIds(findingsWith(everything, net::Family::V6)),
            (Ids{"host-asm-ipv6", "host-ssm-ipv6", "router-asm-ipv6", "path-asm-ipv6",
                 "router-ssm-ipv6", "path-ssm-ipv6", "router-pim-ipv6", "pim-active-ipv6",
                 "asm-beacon-working-ipv6", "ssm-beacon-working-ipv6"}));
  // MLD's queries are read from tests 5 and 6 of the IPv6 battery, not IGMP's.
  EXPECT_EQ(heldIds(findingsWith({Found::HostSsm, Found::SsmRoutersReply}, net::Family::V6)),
            (Ids{"host-ssm-ipv6", "router-ssm-ipv6", "path-ssm-not-setup-ipv6"}));
  EXPECT_EQ(heldIds(findingsWith(
                {Found::HostAsm, Found::AllRoutersReply, Found::V2Query, Found::PimRoutersReply},
                net::Family::V6)),
            (Ids{"host-asm-ipv6", "router-asm-ipv6", "path-asm-ipv6", "router-pim-ipv6",
                 "path-asm-no-traffic-ipv6"}));
}

TEST(Conclusions, Ipv6PimLineEndsWithAFullStopNotAComma) {
  PassFindings findings = findingsWith({Found::PimHello}, net::Family::V6);
  auto& pim = std::get<PimDetails>(findings.find(TestId::PimHello)->details);
  pim.hellos = {NeighbourHello{*net::Address::parseV6("fe80::2"), {}},
                NeighbourHello{*net::Address::parseV6("fe80::1"), {}}};
  const auto held = conclusionsThatHold(findings);
  ASSERT_EQ(held.size(), 1U);
  EXPECT_EQ(held[0].line,
            "=> PIM is active on the link: these routers answered the Hello or announced an RP: "
            "fe80::1, fe80::2.");
}

TEST(Conclusions, NothingFoundHoldsNothing) { EXPECT_EQ(heldIds(findingsWith({})), Ids{}); }

TEST(Conclusions, EachFindingAloneHoldsItsOwnConclusion) {
  const std::pair<Found, const char*> cases[] = {
      {Found::HostAsm, "host-asm"},
      {Found::HostSsm, "host-ssm"},
      {Found::AllRoutersReply, "router-asm"},
      {Found::V2Query, "path-asm"},
      {Found::SsmRoutersReply, "router-ssm"},
      {Found::V3Query, "path-ssm"},
      {Found::PimRoutersReply, "router-pim"},
      {Found::PimHello, "pim-active"},
      {Found::AsmMember, "asm-beacon-working"},
      {Found::SsmMember, "ssm-beacon-working"},
  };
  for (const auto& [found, id] : cases) {
    EXPECT_EQ(heldIds(findingsWith({found})), Ids{id}) << id;
  }
}

TEST(Conclusions, EverythingFoundHoldsEveryPositiveConclusionAndNoElseRow) {
  EXPECT_EQ(
      heldIds(findingsWith({Found::HostAsm, Found::HostSsm, Found::AsmMember, Found::SsmMember,
                            Found::AllRoutersReply, Found::SsmRoutersReply, Found::V2Query,
                            Found::V3Query, Found::PimRoutersReply, Found::PimHello})),
      (Ids{"host-asm", "host-ssm", "router-asm", "path-asm", "router-ssm", "path-ssm", "router-pim",
           "pim-active", "asm-beacon-working", "ssm-beacon-working"}));
}

TEST(Conclusions, SsmNotSetUpHoldsOnlyWithoutAnIgmpV3Answer) {
  EXPECT_EQ(heldIds(findingsWith({Found::HostSsm, Found::SsmRoutersReply})),
            (Ids{"host-ssm", "router-ssm", "path-ssm-not-setup"}));
  EXPECT_EQ(heldIds(findingsWith({Found::HostSsm, Found::SsmRoutersReply, Found::V3Query})),
            (Ids{"host-ssm", "router-ssm", "path-ssm"}));
  // Either half missing: no verdict on the switch.
  EXPECT_EQ(heldIds(findingsWith({Found::SsmRoutersReply})), Ids{"router-ssm"});
  EXPECT_EQ(heldIds(findingsWith({Found::HostSsm})), Ids{"host-ssm"});
}

TEST(Conclusions, NoTrafficRowsNeedTheWholePathAndNoBeacon) {
  const auto asmPath = {Found::HostAsm, Found::AllRoutersReply, Found::V2Query,
                        Found::PimRoutersReply};
  EXPECT_EQ(heldIds(findingsWith(asmPath)),
            (Ids{"host-asm", "router-asm", "path-asm", "router-pim", "path-asm-no-traffic"}));
  EXPECT_EQ(heldIds(findingsWith({Found::HostAsm, Found::AllRoutersReply, Found::V2Query})),
            (Ids{"host-asm", "router-asm", "path-asm"}))
      << "without the PIM routers' answer";

  EXPECT_EQ(heldIds(findingsWith(
                {Found::HostSsm, Found::SsmRoutersReply, Found::V3Query, Found::PimRoutersReply})),
            (Ids{"host-ssm", "router-ssm", "path-ssm", "router-pim", "path-ssm-no-traffic"}));
  EXPECT_EQ(heldIds(findingsWith({Found::HostSsm, Found::SsmRoutersReply, Found::V3Query,
                                  Found::PimRoutersReply, Found::SsmMember})),
            (Ids{"host-ssm", "router-ssm", "path-ssm", "router-pim", "ssm-beacon-working"}));
}

TEST(Conclusions, AMemberHeardCountsEvenWhenTheLeaveFailed) {
  // The member was heard; the test then failed, so the host is not capable.
  EXPECT_EQ(heldIds(findingsWith({Found::AsmMember})), Ids{"asm-beacon-working"});
}

TEST(Conclusions, PimLineNamesTheHelloSendersInTextOrderElseTheRps) {
  PassFindings findings = findingsWith({Found::PimHello});
  auto& pim = std::get<PimDetails>(findings.find(TestId::PimHello)->details);
  pim.hellos = {NeighbourHello{net::Address::v4(0x09010101U), {}},
                NeighbourHello{net::Address::v4(0x0A010101U), {}}};
  pim.rpAdvertisers = {net::Address::v4(0x0AFF0001U)};
  const auto held = conclusionsThatHold(findings);
  ASSERT_EQ(held.size(), 1U);
  EXPECT_EQ(held[0].line,
            "=> PIM-SM is active at first hop router and responds to Hello message. The reponders "
            "are 10.1.1.1, 9.1.1.1, ");

  pim.hellos.clear();
  EXPECT_EQ(conclusionsThatHold(findings)[0].line,
            "=> PIM-SM is active at first hop router and responds to Hello message. The reponders "
            "are 10.255.0.1, ");
}

TEST(Conclusions, ATestThatNeverRanFindsNothing) {
  PassFindings findings = findingsWith({Found::HostAsm, Found::HostSsm});
  findings.find(TestId::SsmBeacon)->ran = false;
  EXPECT_EQ(heldIds(findings), Ids{"host-asm"});
}

}  // namespace
