#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "app/battery.h"
#include "app/findings.h"
#include "app/text_output.h"
#include "net/address.h"

namespace {

const std::string kHeader =
    "\n\n"
    "*****************************************\n"
    "*     Multicast Corvanite Report        *\n"
    "*****************************************\n";

const std::string kRow1 =
    "=> Host Operating System is capable of Any Source Multicast (IGMP v2) \n";
const std::string kRow2 =
    "=> Host Operating System is capable of Source Specific Multicast (IGMP v3) \n";
const std::string kRow3 =
    "=> First hop router supports Any Source Multicast (IGMP v2). It's responding to "
    "ALL_MULTICAST_ROUTER group ping request \n";
const std::string kRow4 =
    "=> Path to first hop router is working for ASM, router responds to  IGMPv2 requests. \n";
const std::string kRow5 =
    "=> First hop router supports Source Specific Multicast (IGMP v3). It's responding to "
    "ALL_SSM_ROUTER group ping request \n";
const std::string kRow6a =
    "=> Path to first hop router is working for SSM, router responds to IGMPv3 requests. \n";
const std::string kRow6b =
    "=> Path to first hop router is not setup for SSM, router does not respond to IGMPv3 "
    "requests.  Most probably it is a Switch related problem.  \n";
const std::string kRow7 =
    "=> First hop router supports PIM - SM multicast routing protocol. It's responding to "
    "ALL_PIMSM_ROUTER group ping request. \n";
const std::string kRow8Lead =
    "=> PIM-SM is active at first hop router and responds to Hello message. The reponders are ";
const std::string kRow9a =
    "=> ASM is working for the 'Beacon Group', RTP packets from members were received. \n";
const std::string kRow9b =
    "=> Path to first hop router seems to be working for ASM, but not receiving traffic from "
    "the Internet. This is likely to be a problem beyond the first-hop router. \n";
const std::string kRow10a =
    "=> SSM is functioning for Beacon Group.  Receiving RTP packets from members of SSM beacon "
    "group. \n";
const std::string kRow10b =
    "=> Path to first hop router seems to be working for SSM, but not receiving traffic from "
    "the Internet. This is likely to be a problem beyond the first-hop router. \n";

// The record of test `id`, marked as run, with details of its kind.
template <typename Details>
Details& ran(PassFindings& findings, TestId id) {
  TestRecord& record = *findings.find(id);
  record.ran = true;
  if (!std::holds_alternative<Details>(record.details)) record.details.emplace<Details>();
  return std::get<Details>(record.details);
}

const net::Address kRouter = net::Address::v4(0x0A000001U);  // 10.0.0.1

// What a pass found, one fact at a time, each as the test's record shows it.
using Finding = void (*)(PassFindings&);

// The beacon tests completed (joined, listened, left) without hearing anyone.
void hostAsm(PassFindings& f) { ran<BeaconDetails>(f, TestId::AsmBeacon); }
void hostSsm(PassFindings& f) { ran<BeaconDetails>(f, TestId::SsmBeacon); }
// A member was heard, though the leave after it failed.
void asmBeaconOnly(PassFindings& f) {
  ran<BeaconDetails>(f, TestId::AsmBeacon).members.push_back({kRouter, 3});
  f.find(TestId::AsmBeacon)->error = TestError{TestError::Kind::SocketCall, "SetOption", 99};
}
void ssmBeaconOnly(PassFindings& f) {
  ran<BeaconDetails>(f, TestId::SsmBeacon).members.push_back({kRouter, 3});
  f.find(TestId::SsmBeacon)->error = TestError{TestError::Kind::SocketCall, "SetOption", 99};
}
// The beacon heard, and the test complete.
void asmBeacon(PassFindings& f) {
  ran<BeaconDetails>(f, TestId::AsmBeacon).members.push_back({kRouter, 3});
}
void ssmBeacon(PassFindings& f) {
  ran<BeaconDetails>(f, TestId::SsmBeacon).members.push_back({kRouter, 3});
}
void allRouters(PassFindings& f) {
  ran<PingDetails>(f, TestId::AllRoutersPing).replies.push_back({kRouter, 0.5});
}
void ssmRouters(PassFindings& f) {
  ran<PingDetails>(f, TestId::SsmRoutersPing).replies.push_back({kRouter, 0.5});
}
void pimRouters(PassFindings& f) {
  ran<PingDetails>(f, TestId::PimRoutersPing).replies.push_back({kRouter, 0.5});
}
void v2QueryForGroup(PassFindings& f) {
  ran<MembershipDetails>(f, TestId::AnySourceMembership).sawQueryForGroup = true;
}
void v3QueryForGroup(PassFindings& f) {
  ran<MembershipDetails>(f, TestId::SourceMembership).sawQueryForGroup = true;
}
void helloFrom(PassFindings& f, const char* sender) {
  ran<PimDetails>(f, TestId::PimHello).hellos.push_back({*net::Address::parseV4(sender), {}});
}
void pimNeighbour(PassFindings& f) { helloFrom(f, "10.0.0.1"); }

PassFindings found(std::initializer_list<Finding> findings) {
  PassFindings pass = freshFindings();
  for (const Finding finding : findings) finding(pass);
  return pass;
}

std::string reportFor(const PassFindings& findings) {
  std::ostringstream out;
  printReport(out, reportBattery(findings));
  return out.str();
}

TEST(Report, NothingFoundPrintsOnlyTheBanner) {
  EXPECT_EQ(reportFor(found({})), kHeader);
  // Tests that ran and failed, or ended in errors, found nothing either.
  PassFindings failed = freshFindings();
  for (TestRecord& record : failed.tests) {
    record.ran = true;
    record.error = TestError{TestError::Kind::RawSocket, std::nullopt, 1};
  }
  EXPECT_EQ(reportFor(failed), kHeader);
}

TEST(Report, EverythingFoundPrintsEveryPositiveRowInOrder) {
  EXPECT_EQ(reportFor(found({asmBeacon, ssmBeacon, allRouters, ssmRouters, pimRouters,
                             v2QueryForGroup, v3QueryForGroup, pimNeighbour})),
            kHeader + kRow1 + kRow2 + kRow3 + kRow4 + kRow5 + kRow6a + kRow7 + kRow8Lead +
                "10.0.0.1, \n" + kRow9a + kRow10a);
}

TEST(Report, EachFindingAloneMapsToItsOwnRow) {
  struct Case {
    Finding finding;
    std::string row;
  };
  const Case cases[] = {
      {hostAsm, kRow1},         {hostSsm, kRow2},
      {allRouters, kRow3},      {v2QueryForGroup, kRow4},
      {ssmRouters, kRow5},      {v3QueryForGroup, kRow6a},
      {pimRouters, kRow7},      {asmBeaconOnly, kRow9a},
      {ssmBeaconOnly, kRow10a}, {pimNeighbour, kRow8Lead + "10.0.0.1, \n"},
  };
  for (const Case& c : cases) EXPECT_EQ(reportFor(found({c.finding})), kHeader + c.row) << c.row;
}

TEST(Report, SsmPathNotSetUpNeedsHostAndRouterButNoV3Query) {
  EXPECT_EQ(reportFor(found({hostSsm, ssmRouters})), kHeader + kRow2 + kRow5 + kRow6b);
  EXPECT_EQ(reportFor(found({hostSsm, ssmRouters, v3QueryForGroup})),
            kHeader + kRow2 + kRow5 + kRow6a);
  EXPECT_EQ(reportFor(found({hostSsm})), kHeader + kRow2);
  // A host whose source-specific join failed is no SSM-capable host.
  PassFindings refused = found({ssmRouters});
  ran<BeaconDetails>(refused, TestId::SsmBeacon);
  refused.find(TestId::SsmBeacon)->error = TestError{TestError::Kind::SocketCall, "SetOption", 22};
  EXPECT_EQ(reportFor(refused), kHeader + kRow5);
}

TEST(Report, V3QueryAloneNeverPrintsTheSwitchProblem) {
  EXPECT_EQ(reportFor(found({v3QueryForGroup})).find(kRow6b), std::string::npos);
}

TEST(Report, AsmPathWorksButNoBeaconNeedsAllFourAsmFindings) {
  const std::vector<Finding> path{hostAsm, allRouters, v2QueryForGroup, pimRouters};
  EXPECT_EQ(reportFor(found({hostAsm, allRouters, v2QueryForGroup, pimRouters})),
            kHeader + kRow1 + kRow3 + kRow4 + kRow7 + kRow9b);

  for (std::size_t missing = 0; missing < path.size(); ++missing) {
    PassFindings partial = freshFindings();
    for (std::size_t i = 0; i < path.size(); ++i) {
      if (i != missing) path[i](partial);
    }
    EXPECT_EQ(reportFor(partial).find(kRow9b), std::string::npos) << missing;
  }

  const std::string withBeacon =
      reportFor(found({asmBeacon, allRouters, v2QueryForGroup, pimRouters}));
  EXPECT_NE(withBeacon.find(kRow9a), std::string::npos);
  EXPECT_EQ(withBeacon.find(kRow9b), std::string::npos);
}

TEST(Report, SsmPathWorksButNoBeaconNeedsAllFourSsmFindings) {
  const std::vector<Finding> path{hostSsm, ssmRouters, v3QueryForGroup, pimRouters};
  EXPECT_EQ(reportFor(found({hostSsm, ssmRouters, v3QueryForGroup, pimRouters})),
            kHeader + kRow2 + kRow5 + kRow6a + kRow7 + kRow10b);

  for (std::size_t missing = 0; missing < path.size(); ++missing) {
    PassFindings partial = freshFindings();
    for (std::size_t i = 0; i < path.size(); ++i) {
      if (i != missing) path[i](partial);
    }
    EXPECT_EQ(reportFor(partial).find(kRow10b), std::string::npos) << missing;
  }

  const std::string withBeacon =
      reportFor(found({ssmBeacon, ssmRouters, v3QueryForGroup, pimRouters}));
  EXPECT_NE(withBeacon.find(kRow10a), std::string::npos);
  EXPECT_EQ(withBeacon.find(kRow10b), std::string::npos);
}

// The responders are every Hello sender, in the byte-wise order of their
// texts (10.x before 9.x), each followed by ", "; the RP advertisers only
// when no Hello came.
TEST(Report, PimRowNamesTheRespondersInTextOrder) {
  PassFindings two = freshFindings();
  helloFrom(two, "9.0.0.1");
  helloFrom(two, "10.0.0.1");
  EXPECT_EQ(reportFor(two), kHeader + kRow8Lead + "10.0.0.1, 9.0.0.1, \n");

  PassFindings rpOnly = freshFindings();
  ran<PimDetails>(rpOnly, TestId::PimHello).rpAdvertisers = {*net::Address::parseV4("10.255.0.2"),
                                                             *net::Address::parseV4("10.255.0.10")};
  EXPECT_EQ(reportFor(rpOnly), kHeader + kRow8Lead + "10.255.0.10, 10.255.0.2, \n");

  PassFindings both = rpOnly;
  helloFrom(both, "10.0.1.1");
  EXPECT_EQ(reportFor(both), kHeader + kRow8Lead + "10.0.1.1, \n");
}

}  // namespace
