#include "app/report.h"

void printReport(std::ostream& out, const PassFindings& findings) {
  const PassFlags& f = findings.flags;
  out << std::endl << std::endl;
  out << "*****************************************" << std::endl;
  out << "*     Multicast Corvanite Report        *" << std::endl;
  out << "*****************************************" << std::endl;

  if (f.hostAsmCapable) {
    out << "=> Host Operating System is capable of Any Source Multicast (IGMP v2) \n";
  }
  if (f.hostSsmCapable) {
    out << "=> Host Operating System is capable of Source Specific Multicast (IGMP v3) \n";
  }
  if (f.allRoutersAnswered) {
    out << "=> First hop router supports Any Source Multicast (IGMP v2). It's responding to "
           "ALL_MULTICAST_ROUTER group ping request \n";
  }
  if (f.igmpV2QuerySeen) {
    out << "=> Path to first hop router is working for ASM, router responds to  IGMPv2 "
           "requests. \n";
  }
  if (f.ssmRoutersAnswered) {
    out << "=> First hop router supports Source Specific Multicast (IGMP v3). It's responding "
           "to ALL_SSM_ROUTER group ping request \n";
  }
  if (f.igmpV3QuerySeen) {
    out << "=> Path to first hop router is working for SSM, router responds to IGMPv3 "
           "requests. \n";
  } else if (f.hostSsmCapable && f.ssmRoutersAnswered) {
    out << "=> Path to first hop router is not setup for SSM, router does not respond to "
           "IGMPv3 requests.  Most probably it is a Switch related problem.  \n";
  }
  if (f.pimRoutersAnswered) {
    out << "=> First hop router supports PIM - SM multicast routing protocol. It's responding "
           "to ALL_PIMSM_ROUTER group ping request. \n";
  }
  if (f.pimHelloAnswered) {
    out << "=> PIM-SM is active at first hop router and responds to Hello message. The "
           "reponders are "
        << findings.pimResponderText << std::endl;
  }
  if (f.asmBeaconHeard) {
    out << "=> ASM is working for the 'Beacon Group', RTP packets from members were "
           "received. \n";
  } else if (f.hostAsmCapable && f.allRoutersAnswered && f.igmpV2QuerySeen &&
             f.pimRoutersAnswered) {
    out << "=> Path to first hop router seems to be working for ASM, but not receiving "
           "traffic from the Internet. This is likely to be a problem beyond the first-hop "
           "router. \n";
  }
  if (f.ssmBeaconHeard) {
    out << "=> SSM is functioning for Beacon Group.  Receiving RTP packets from members of "
           "SSM beacon group. \n";
  } else if (f.hostSsmCapable && f.ssmRoutersAnswered && f.igmpV3QuerySeen &&
             f.pimRoutersAnswered) {
    out << "=> Path to first hop router seems to be working for SSM, but not receiving "
           "traffic from the Internet. This is likely to be a problem beyond the first-hop "
           "router. \n";
  }
}
