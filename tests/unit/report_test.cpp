#include "app/report.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

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

std::string reportFor(const PassFlags& flags, const std::string& responders = "") {
  std::ostringstream out;
  PassFindings findings;
  findings.flags = flags;
  findings.pimResponderText = responders;
  printReport(out, findings);
  return out.str();
}

PassFlags allTrue() {
  return PassFlags{true, true, true, true, true, true, true, true, true, true};
}

TEST(Report, NothingFoundPrintsOnlyTheBanner) { EXPECT_EQ(reportFor(PassFlags{}), kHeader); }

TEST(Report, EverythingFoundPrintsEveryPositiveRowInOrder) {
  EXPECT_EQ(reportFor(allTrue(), "10.0.0.1, "), kHeader + kRow1 + kRow2 + kRow3 + kRow4 + kRow5 +
                                                    kRow6a + kRow7 + kRow8Lead + "10.0.0.1, \n" +
                                                    kRow9a + kRow10a);
}

TEST(Report, EachFlagAloneMapsToItsOwnRow) {
  struct Case {
    bool PassFlags::*flag;
    std::string row;
  };
  const Case cases[] = {
      {&PassFlags::hostAsmCapable, kRow1},     {&PassFlags::hostSsmCapable, kRow2},
      {&PassFlags::allRoutersAnswered, kRow3}, {&PassFlags::igmpV2QuerySeen, kRow4},
      {&PassFlags::ssmRoutersAnswered, kRow5}, {&PassFlags::igmpV3QuerySeen, kRow6a},
      {&PassFlags::pimRoutersAnswered, kRow7}, {&PassFlags::asmBeaconHeard, kRow9a},
      {&PassFlags::ssmBeaconHeard, kRow10a},
  };
  for (const Case& c : cases) {
    PassFlags flags;
    flags.*c.flag = true;
    EXPECT_EQ(reportFor(flags), kHeader + c.row);
  }
}

TEST(Report, SsmPathNotSetUpNeedsHostAndRouterButNoV3Query) {
  PassFlags flags;
  flags.hostSsmCapable = true;
  flags.ssmRoutersAnswered = true;
  EXPECT_EQ(reportFor(flags), kHeader + kRow2 + kRow5 + kRow6b);

  flags.igmpV3QuerySeen = true;
  EXPECT_EQ(reportFor(flags), kHeader + kRow2 + kRow5 + kRow6a);

  PassFlags hostOnly;
  hostOnly.hostSsmCapable = true;
  EXPECT_EQ(reportFor(hostOnly), kHeader + kRow2);
}

TEST(Report, V3QueryAloneNeverPrintsTheSwitchProblem) {
  PassFlags flags;
  flags.igmpV3QuerySeen = true;
  EXPECT_EQ(reportFor(flags).find(kRow6b), std::string::npos);
}

TEST(Report, AsmPathWorksButNoBeaconNeedsAllFourAsmFlags) {
  PassFlags flags;
  flags.hostAsmCapable = true;
  flags.allRoutersAnswered = true;
  flags.igmpV2QuerySeen = true;
  flags.pimRoutersAnswered = true;
  EXPECT_EQ(reportFor(flags), kHeader + kRow1 + kRow3 + kRow4 + kRow7 + kRow9b);

  for (bool PassFlags::*missing : {&PassFlags::hostAsmCapable, &PassFlags::allRoutersAnswered,
                                   &PassFlags::igmpV2QuerySeen, &PassFlags::pimRoutersAnswered}) {
    PassFlags partial = flags;
    partial.*missing = false;
    EXPECT_EQ(reportFor(partial).find(kRow9b), std::string::npos);
  }

  flags.asmBeaconHeard = true;
  const std::string withBeacon = reportFor(flags);
  EXPECT_NE(withBeacon.find(kRow9a), std::string::npos);
  EXPECT_EQ(withBeacon.find(kRow9b), std::string::npos);
}

TEST(Report, SsmPathWorksButNoBeaconNeedsAllFourSsmFlags) {
  PassFlags flags;
  flags.hostSsmCapable = true;
  flags.ssmRoutersAnswered = true;
  flags.igmpV3QuerySeen = true;
  flags.pimRoutersAnswered = true;
  EXPECT_EQ(reportFor(flags), kHeader + kRow2 + kRow5 + kRow6a + kRow7 + kRow10b);

  for (bool PassFlags::*missing : {&PassFlags::hostSsmCapable, &PassFlags::ssmRoutersAnswered,
                                   &PassFlags::igmpV3QuerySeen, &PassFlags::pimRoutersAnswered}) {
    PassFlags partial = flags;
    partial.*missing = false;
    EXPECT_EQ(reportFor(partial).find(kRow10b), std::string::npos);
  }

  flags.ssmBeaconHeard = true;
  const std::string withBeacon = reportFor(flags);
  EXPECT_NE(withBeacon.find(kRow10a), std::string::npos);
  EXPECT_EQ(withBeacon.find(kRow10b), std::string::npos);
}

TEST(Report, PimRowCarriesTheStoredTextAsItStands) {
  PassFlags flags;
  flags.pimHelloAnswered = true;
  EXPECT_EQ(reportFor(flags, "10.0.0.1, "), kHeader + kRow8Lead + "10.0.0.1, \n");
  EXPECT_EQ(reportFor(flags, "10.0.0.1, 9.0.0.1, "), kHeader + kRow8Lead + "10.0.0.1, 9.0.0.1, \n");
}

}  // namespace
