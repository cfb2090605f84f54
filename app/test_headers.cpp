#include "app/test_headers.h"

#include <sstream>

namespace {

// IPv6's texts: new, in plain English; IPv4's below are the tool's own and
// kept to the letter.
std::string ipv6Header(const TestRecord& record) {
  std::ostringstream header;
  header << record.number << ".  ";
  switch (record.id) {
    case TestId::AsmBeacon: {
      const auto& beacon = detailsOf<BeaconDetails>(record);
      header << "Joining the IPv6 any-source beacon group " << beacon.group.toString() << ", port "
             << beacon.port;
      break;
    }
    case TestId::SsmBeacon: {
      const auto& beacon = detailsOf<BeaconDetails>(record);
      header << "Joining the IPv6 source-specific beacon channel ("
             << beacon.source.value_or(net::Address{}).toString() << ", " << beacon.group.toString()
             << "), port " << beacon.port;
      break;
    }
    case TestId::AllRoutersPing:
      header << "Pinging ff02::2, the routers on the link";
      break;
    case TestId::SsmRoutersPing:
      header << "Pinging ff02::16, the MLDv2-capable routers on the link";
      break;
    case TestId::MldV1:
    case TestId::IgmpV2:
      header << "Probing the first-hop router with MLDv1";
      break;
    case TestId::MldV2:
    case TestId::IgmpV3:
      header << "Probing the first-hop router with MLDv2";
      break;
    case TestId::PimRoutersPing:
      header << "Pinging ff02::d, the PIM routers on the link";
      break;
    case TestId::PimHello:
      header << "Saying PIM Hello to the routers on the link";
      break;
  }
  header << " ";
  return header.str();
}

}  // namespace

std::string testHeader(const TestRecord& record, net::Family family) {
  if (family == net::Family::V6) return ipv6Header(record);
  std::ostringstream header;
  switch (record.id) {
    case TestId::AsmBeacon: {
      const auto& beacon = detailsOf<BeaconDetails>(record);
      header << "1.  Joining NLAR Multicast Beacon Group " << beacon.group.toString() << ", port "
             << beacon.port << " ";
      break;
    }
    case TestId::SsmBeacon: {
      const auto& beacon = detailsOf<BeaconDetails>(record);
      header << "2.  Joining SSM Video Group " << beacon.group.toString() << ", "
             << beacon.source.value_or(net::Address{}).toString() << " port " << beacon.port << " ";
      break;
    }
    case TestId::AllRoutersPing:
      header << "3.  Checking presence of multicast capable router in the neighborhood ";
      break;
    case TestId::SsmRoutersPing:
      header << "4.  Checking presence of SSM capable router in the neighborhood ";
      break;
    case TestId::IgmpV2:
    case TestId::MldV1:
      header << "5.  Detecting if there is IGMPv2 capability to first-hop router ";
      break;
    case TestId::IgmpV3:
    case TestId::MldV2:
      header << "6.  Detecting if there is IGMPv3 capability to first-hop router ";
      break;
    case TestId::PimRoutersPing:
      header << "7.  Detecting presence of PIM-SM capable router ";
      break;
    case TestId::PimHello:
      header << "8.  Detecting if first-hop router knows about an RP ";
      break;
  }
  return header.str();
}
