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

PassFindings findingsWith(std::initializer_list<Found> found) {
  PassFindings findings = freshFindings();
  const auto has = [&](Found what) {
    return std::find(found.begin(), found.end(), what) != found.end();
  };
  for (TestRecord& record : findings.tests) record.ran = true;
  const auto beacon = [&](TestId id, Found capable, Found member) {
    TestRecord& record = *findings.find(id);
    auto& details = record.details.emplace<BeaconDetails>();
    if (has(member)) details.members.push_back(BeaconMember{kRouter, 3});
    // A host that cannot join ends the test with the refusal.
    if (!has(capable)) record.error = TestError{TestError::Kind::SocketCall, "SetOption", 105};
  };
  beacon(TestId::AsmBeacon, Found::HostAsm, Found::AsmMember);
  beacon(TestId::SsmBeacon, Found::HostSsm, Found::SsmMember);
  const auto ping = [&](TestId id, Found reply) {
    auto& details = findings.find(id)->details.emplace<PingDetails>();
    if (has(reply)) details.replies.push_back(EchoReply{kRouter, 0.5});
  };
  ping(TestId::AllRoutersPing, Found::AllRoutersReply);
  ping(TestId::SsmRoutersPing, Found::SsmRoutersReply);
  ping(TestId::PimRoutersPing, Found::PimRoutersReply);
  findings.find(TestId::IgmpV2)->details.emplace<IgmpDetails>().sawQueryForGroup =
      has(Found::V2Query);
  findings.find(TestId::IgmpV3)->details.emplace<IgmpDetails>().sawQueryForGroup =
      has(Found::V3Query);
  auto& pim = findings.find(TestId::PimHello)->details.emplace<PimDetails>();
  if (has(Found::PimHello)) pim.hellos.push_back(NeighbourHello{kRouter, {}});
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
  EXPECT_EQ(ids, (Ids{"host-asm", "host-ssm", "router-asm", "path-asm", "router-ssm", "path-ssm",
                      "path-ssm-not-setup", "router-pim", "pim-active", "asm-beacon-working",
                      "path-asm-no-traffic", "ssm-beacon-working", "path-ssm-no-traffic"}));
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
