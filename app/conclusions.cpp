#include "app/conclusions.h"

#include <array>

namespace {

using F = PassFlags;
using P = PassFindings;

// The conditions, one for each line of the report; the same in both families,
// whose flags mean the same of IGMP and of MLD. An "else" holds only where the
// condition before it in the report does not.
bool hostAsm(const F& f, const P&) { return f.hostAsmCapable; }
bool hostSsm(const F& f, const P&) { return f.hostSsmCapable; }
bool routerAsm(const F& f, const P&) { return f.allRoutersAnswered; }
bool pathAsm(const F& f, const P&) { return f.anySourceQuerySeen; }
bool routerSsm(const F& f, const P&) { return f.ssmRoutersAnswered; }
bool pathSsm(const F& f, const P&) { return f.sourceQuerySeen; }
bool pathSsmNotSetUp(const F& f, const P&) {
  return !f.sourceQuerySeen && f.hostSsmCapable && f.ssmRoutersAnswered;
}
bool routerPim(const F& f, const P&) { return f.pimRoutersAnswered; }
bool pimActive(const F& f, const P&) { return f.pimHelloAnswered; }
bool asmBeaconWorking(const F& f, const P&) { return f.asmBeaconHeard; }
// Not where the beacon reached the interface and the host dropped it: the
// problem is then the host's own, and the diagnosis names it.
bool pathAsmNoTraffic(const F& f, const P& p) {
  return !f.asmBeaconHeard && f.hostAsmCapable && f.allRoutersAnswered && f.anySourceQuerySeen &&
         f.pimRoutersAnswered && !droppedByHost(p.details<BeaconDetails>(TestId::AsmBeacon));
}
bool ssmBeaconWorking(const F& f, const P&) { return f.ssmBeaconHeard; }
bool pathSsmNoTraffic(const F& f, const P& p) {
  return !f.ssmBeaconHeard && f.hostSsmCapable && f.ssmRoutersAnswered && f.sourceQuerySeen &&
         f.pimRoutersAnswered && !droppedByHost(p.details<BeaconDetails>(TestId::SsmBeacon));
}

// The PIM responders of an IPv6 pass: joined, without IPv4's trailing comma.
std::string ipv6Responders(const PassFindings& findings) {
  std::string text = pimResponderText(findings);
  if (text.size() >= 2) text.resize(text.size() - 2);
  return text + ".";
}

using K = ConclusionKind;
constexpr net::Family V4 = net::Family::V4;
constexpr net::Family V6 = net::Family::V6;

constexpr std::array<Conclusion, 26> kConclusions{{
    // IPv4's lines are the tool's own, kept to the letter for the scripts that
    // read them.
    {K::HostAsm, V4, "host-asm", hostAsm,
     "=> Host Operating System is capable of Any Source Multicast (IGMP v2) "},
    {K::HostSsm, V4, "host-ssm", hostSsm,
     "=> Host Operating System is capable of Source Specific Multicast (IGMP v3) "},
    {K::RouterAsm, V4, "router-asm", routerAsm,
     "=> First hop router supports Any Source Multicast (IGMP v2). It's responding to "
     "ALL_MULTICAST_ROUTER group ping request "},
    {K::PathAsm, V4, "path-asm", pathAsm,
     "=> Path to first hop router is working for ASM, router responds to  IGMPv2 requests. "},
    {K::RouterSsm, V4, "router-ssm", routerSsm,
     "=> First hop router supports Source Specific Multicast (IGMP v3). It's responding to "
     "ALL_SSM_ROUTER group ping request "},
    {K::PathSsm, V4, "path-ssm", pathSsm,
     "=> Path to first hop router is working for SSM, router responds to IGMPv3 requests. "},
    {K::PathSsmNotSetUp, V4, "path-ssm-not-setup", pathSsmNotSetUp,
     "=> Path to first hop router is not setup for SSM, router does not respond to IGMPv3 "
     "requests.  Most probably it is a Switch related problem.  "},
    {K::RouterPim, V4, "router-pim", routerPim,
     "=> First hop router supports PIM - SM multicast routing protocol. It's responding to "
     "ALL_PIMSM_ROUTER group ping request. "},
    {K::PimActive, V4, "pim-active", pimActive,
     "=> PIM-SM is active at first hop router and responds to Hello message. The reponders are ",
     pimResponderText},
    {K::AsmBeaconWorking, V4, "asm-beacon-working", asmBeaconWorking,
     "=> ASM is working for the 'Beacon Group', RTP packets from members were received. "},
    {K::PathAsmNoTraffic, V4, "path-asm-no-traffic", pathAsmNoTraffic,
     "=> Path to first hop router seems to be working for ASM, but not receiving traffic from "
     "the Internet. This is likely to be a problem beyond the first-hop router. "},
    {K::SsmBeaconWorking, V4, "ssm-beacon-working", ssmBeaconWorking,
     "=> SSM is functioning for Beacon Group.  Receiving RTP packets from members of SSM beacon "
     "group. "},
    {K::PathSsmNoTraffic, V4, "path-ssm-no-traffic", pathSsmNoTraffic,
     "=> Path to first hop router seems to be working for SSM, but not receiving traffic from "
     "the Internet. This is likely to be a problem beyond the first-hop router. "},

    {K::HostAsm, V6, "host-asm-ipv6", hostAsm,
     "=> The host can join IPv6 any-source multicast groups (MLDv1)."},
    {K::HostSsm, V6, "host-ssm-ipv6", hostSsm,
     "=> The host can join IPv6 source-specific channels (MLDv2)."},
    {K::RouterAsm, V6, "router-asm-ipv6", routerAsm,
     "=> A multicast router is on the link: it answered the ping to ff02::2 (all routers)."},
    {K::PathAsm, V6, "path-asm-ipv6", pathAsm,
     "=> The path to the first-hop router works for IPv6 any-source multicast: the router "
     "answers MLDv1."},
    {K::RouterSsm, V6, "router-ssm-ipv6", routerSsm,
     "=> An MLDv2-capable router is on the link: it answered the ping to ff02::16."},
    {K::PathSsm, V6, "path-ssm-ipv6", pathSsm,
     "=> The path to the first-hop router works for IPv6 source-specific multicast: the "
     "router answers MLDv2."},
    {K::PathSsmNotSetUp, V6, "path-ssm-not-setup-ipv6", pathSsmNotSetUp,
     "=> The path to the first-hop router is not set up for IPv6 source-specific multicast: an "
     "MLDv2 router answers pings, but no MLDv2 query came. Something between them, often a "
     "switch, drops MLDv2."},
    {K::RouterPim, V6, "router-pim-ipv6", routerPim,
     "=> A PIM router is on the link: it answered the ping to ff02::d (all PIM routers)."},
    {K::PimActive, V6, "pim-active-ipv6", pimActive,
     "=> PIM is active on the link: these routers answered the Hello or announced an RP: ",
     ipv6Responders},
    {K::AsmBeaconWorking, V6, "asm-beacon-working-ipv6", asmBeaconWorking,
     "=> IPv6 any-source multicast works: the beacon group's traffic arrived."},
    {K::PathAsmNoTraffic, V6, "path-asm-no-traffic-ipv6", pathAsmNoTraffic,
     "=> The path to the first-hop router works for IPv6 any-source multicast, but no beacon "
     "traffic arrived: the problem is likely beyond the first-hop router."},
    {K::SsmBeaconWorking, V6, "ssm-beacon-working-ipv6", ssmBeaconWorking,
     "=> IPv6 source-specific multicast works: the beacon channel's traffic arrived."},
    {K::PathSsmNoTraffic, V6, "path-ssm-no-traffic-ipv6", pathSsmNoTraffic,
     "=> The path to the first-hop router works for IPv6 source-specific multicast, but no "
     "beacon traffic arrived: the problem is likely beyond the first-hop router."},
}};

}  // namespace

std::span<const Conclusion> conclusions() { return kConclusions; }

std::vector<HeldConclusion> conclusionsThatHold(const PassFindings& findings) {
  const PassFlags flags = flagsOf(findings);
  std::vector<HeldConclusion> held;
  for (const Conclusion& rule : kConclusions) {
    if (rule.family != findings.family || !rule.holds(flags, findings)) continue;
    std::string line(rule.text);
    if (rule.detail != nullptr) line += rule.detail(findings);
    held.push_back(HeldConclusion{&rule, line});
  }
  return held;
}
