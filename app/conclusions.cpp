#include "app/conclusions.h"

#include <array>

namespace {

using F = PassFlags;
using P = PassFindings;

// A row whose condition says "else" holds only where the row above it does not.
constexpr std::array<Conclusion, 13> kConclusions{{
    {"host-asm", [](const F& f, const P&) { return f.hostAsmCapable; },
     "=> Host Operating System is capable of Any Source Multicast (IGMP v2) "},
    {"host-ssm", [](const F& f, const P&) { return f.hostSsmCapable; },
     "=> Host Operating System is capable of Source Specific Multicast (IGMP v3) "},
    {"router-asm", [](const F& f, const P&) { return f.allRoutersAnswered; },
     "=> First hop router supports Any Source Multicast (IGMP v2). It's responding to "
     "ALL_MULTICAST_ROUTER group ping request "},
    {"path-asm", [](const F& f, const P&) { return f.igmpV2QuerySeen; },
     "=> Path to first hop router is working for ASM, router responds to  IGMPv2 requests. "},
    {"router-ssm", [](const F& f, const P&) { return f.ssmRoutersAnswered; },
     "=> First hop router supports Source Specific Multicast (IGMP v3). It's responding to "
     "ALL_SSM_ROUTER group ping request "},
    {"path-ssm", [](const F& f, const P&) { return f.igmpV3QuerySeen; },
     "=> Path to first hop router is working for SSM, router responds to IGMPv3 requests. "},
    {"path-ssm-not-setup",
     [](const F& f, const P&) {
       return !f.igmpV3QuerySeen && f.hostSsmCapable && f.ssmRoutersAnswered;
     },
     "=> Path to first hop router is not setup for SSM, router does not respond to IGMPv3 "
     "requests.  Most probably it is a Switch related problem.  "},
    {"router-pim", [](const F& f, const P&) { return f.pimRoutersAnswered; },
     "=> First hop router supports PIM - SM multicast routing protocol. It's responding to "
     "ALL_PIMSM_ROUTER group ping request. "},
    {"pim-active", [](const F& f, const P&) { return f.pimHelloAnswered; },
     "=> PIM-SM is active at first hop router and responds to Hello message. The reponders are ",
     pimResponderText},
    {"asm-beacon-working", [](const F& f, const P&) { return f.asmBeaconHeard; },
     "=> ASM is working for the 'Beacon Group', RTP packets from members were received. "},
    // Not where the beacon reached the interface and the host dropped it:
    // the problem is then the host's own, and the diagnosis names it.
    {"path-asm-no-traffic",
     [](const F& f, const P& p) {
       return !f.asmBeaconHeard && f.hostAsmCapable && f.allRoutersAnswered && f.igmpV2QuerySeen &&
              f.pimRoutersAnswered && !droppedByHost(p.details<BeaconDetails>(TestId::AsmBeacon));
     },
     "=> Path to first hop router seems to be working for ASM, but not receiving traffic from "
     "the Internet. This is likely to be a problem beyond the first-hop router. "},
    {"ssm-beacon-working", [](const F& f, const P&) { return f.ssmBeaconHeard; },
     "=> SSM is functioning for Beacon Group.  Receiving RTP packets from members of SSM beacon "
     "group. "},
    {"path-ssm-no-traffic",
     [](const F& f, const P& p) {
       return !f.ssmBeaconHeard && f.hostSsmCapable && f.ssmRoutersAnswered && f.igmpV3QuerySeen &&
              f.pimRoutersAnswered && !droppedByHost(p.details<BeaconDetails>(TestId::SsmBeacon));
     },
     "=> Path to first hop router seems to be working for SSM, but not receiving traffic from "
     "the Internet. This is likely to be a problem beyond the first-hop router. "},
}};

}  // namespace

std::span<const Conclusion> conclusions() { return kConclusions; }

std::vector<HeldConclusion> conclusionsThatHold(const PassFindings& findings) {
  const PassFlags flags = flagsOf(findings);
  std::vector<HeldConclusion> held;
  for (const Conclusion& rule : kConclusions) {
    if (!rule.holds(flags, findings)) continue;
    std::string line(rule.text);
    if (rule.detail != nullptr) line += rule.detail(findings);
    held.push_back(HeldConclusion{&rule, line});
  }
  return held;
}
