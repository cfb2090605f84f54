#include "app/text_output.h"

#include <sstream>

#include "app/conclusions.h"
#include "app/diagnosis.h"
#include "net/socket_exceptions.h"

namespace {

std::string description(const TestError& error) {
  if (error.kind == TestError::Kind::RawSocket) {
    return net::CV_RawSocketException(error.code).description();
  }
  return net::CV_SocketException(error.code, error.call.value_or("")).description();
}

void printBeaconResult(std::ostream& out, const BeaconDetails& beacon) {
  if (beacon.members.empty()) {
    out << "Test failed:  did not get reponse from any member \n";
  } else {
    out << "Test succeeded:   received response from " << beacon.members.size() << " members \n";
  }
}

// `version` is "IGMPv2" or "IGMPv3".
void printIgmpResult(std::ostream& out, const IgmpDetails& igmp, const char* version) {
  if (igmp.sawQueryForGroup) {
    out << "Test succeeded:  received " << version << " response from the first-hop router \n";
  } else {
    out << "Test failed:  no " << version << " response received from the router \n";
  }
}

void printPimResult(std::ostream& out, const PimDetails& pim) {
  if (!pim.hellos.empty()) {
    out << "Test succeeded:  received responses to Hello Message \n";
  } else if (!pim.rpAdvertisers.empty()) {
    out << "Test succeeded:  first-hop router responded with RP \n";
  } else {
    out << "Test failed:  no router responded to PIM-SM Hello \n";
  }
}

}  // namespace

std::string testHeader(const TestRecord& record) {
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
      header << "5.  Detecting if there is IGMPv2 capability to first-hop router ";
      break;
    case TestId::IgmpV3:
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

void TextOutput::passBegins(const PassFindings& /*findings*/) { out_ << "Running 8 Tests : \n"; }

void TextOutput::testBegins(const TestRecord& record) {
  out_ << "\t" << testHeader(record) << "\n";
}

void TextOutput::verdictReached(const TestRecord& record) {
  switch (record.id) {
    case TestId::AsmBeacon:
    case TestId::SsmBeacon:
      printBeaconResult(out_, detailsOf<BeaconDetails>(record));
      break;
    case TestId::IgmpV2:
      printIgmpResult(out_, detailsOf<IgmpDetails>(record), "IGMPv2");
      break;
    case TestId::IgmpV3:
      printIgmpResult(out_, detailsOf<IgmpDetails>(record), "IGMPv3");
      break;
    case TestId::PimHello:
      printPimResult(out_, detailsOf<PimDetails>(record));
      break;
    case TestId::AllRoutersPing:
    case TestId::SsmRoutersPing:
    case TestId::PimRoutersPing:
      // The router pings print no result line of their own.
      break;
  }
}

void TextOutput::testEnds(const TestRecord& record) {
  if (record.id == TestId::SsmBeacon && detailsOf<BeaconDetails>(record).heldToOldIgmp) {
    out_ << "The host does not support SSM <IGMPv3> \n";
  }
  if (!record.error) return;
  const std::string failure = description(*record.error);
  switch (record.id) {
    case TestId::AsmBeacon:
      out_ << "Exception while joining Beacon Group:" << failure << std::endl;
      break;
    case TestId::SsmBeacon:
      // Once the receiver is open, a refusal means the host can't do
      // source-specific joins.
      if (detailsOf<BeaconDetails>(record).socketOpened) {
        out_ << "Exception while joining SSM Group:" << failure
             << "The host does not support SSM <IGMPv3> \n";
      } else {
        out_ << "Exception while joining SSM Group:" << failure << std::endl;
      }
      break;
    default:
      out_ << failure;
      break;
  }
}

void TextOutput::passEnds(const PassFindings& findings) {
  printReport(out_, findings);
  if (explain_) printDiagnosis(out_, findings);
}

void printReport(std::ostream& out, const PassFindings& findings) {
  out << std::endl << std::endl;
  out << "*****************************************" << std::endl;
  out << "*     Multicast Corvanite Report        *" << std::endl;
  out << "*****************************************" << std::endl;
  for (const HeldConclusion& held : conclusionsThatHold(findings)) out << held.line << "\n";
}

void printDiagnosis(std::ostream& out, const PassFindings& findings) {
  out << "\nDiagnosis:\n";
  const auto found = diagnose(findings);
  if (found.empty()) out << "  (nothing to add to the report)\n";
  for (const Finding& finding : found) {
    out << "  [" << severityName(finding.severity) << "] " << finding.summary << "\n";
  }
}
