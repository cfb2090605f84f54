#include "app/text_output.h"

#include "app/finding_fix.h"
#include "app/finding_text.h"
#include "app/test_headers.h"
#include "net/socket_exceptions.h"

namespace {

std::string description(const TestError& error) {
  if (error.kind == TestError::Kind::PlatformLacks) {
    return "This platform cannot run the test: it lacks " + error.lacking.value_or("") + " (" +
           error.call.value_or("") + ") \n";
  }
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
void printIgmpResult(std::ostream& out, const MembershipDetails& igmp, const char* version) {
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

void printIpv6Result(std::ostream& out, const TestRecord& record) {
  switch (record.id) {
    case TestId::AsmBeacon:
    case TestId::SsmBeacon: {
      const auto& beacon = detailsOf<BeaconDetails>(record);
      if (beacon.members.empty()) {
        out << "Test failed:  heard no member \n";
      } else {
        out << "Test succeeded:  heard " << beacon.members.size()
            << (beacon.members.size() == 1 ? " member \n" : " members \n");
      }
      break;
    }
    case TestId::AnySourceMembership:
    case TestId::SourceMembership: {
      const char* version = record.id == TestId::AnySourceMembership ? "MLDv1" : "MLDv2";
      if (detailsOf<MembershipDetails>(record).sawQueryForGroup) {
        out << "Test succeeded:  the first-hop router answered with an " << version << " query \n";
      } else {
        out << "Test failed:  no " << version << " query came from a router \n";
      }
      break;
    }
    case TestId::PimHello: {
      const auto& pim = detailsOf<PimDetails>(record);
      if (!pim.hellos.empty()) {
        out << "Test succeeded:  PIM routers answered the Hello \n";
      } else if (!pim.rpAdvertisers.empty()) {
        out << "Test succeeded:  an RP is announced on the link \n";
      } else {
        out << "Test failed:  no PIM router answered the Hello \n";
      }
      break;
    }
    case TestId::AllRoutersPing:
    case TestId::SsmRoutersPing:
    case TestId::PimRoutersPing:
      break;
  }
}

void printIpv6Failure(std::ostream& out, const TestRecord& record, const std::string& failure) {
  const char* sourceSpecificRefused =
      "The host cannot join IPv6 source-specific channels (MLDv2) \n";
  switch (record.id) {
    case TestId::AsmBeacon:
      out << "Joining the beacon group failed: " << failure;
      break;
    case TestId::SsmBeacon:
      out << "Joining the beacon channel failed: " << failure;
      if (detailsOf<BeaconDetails>(record).socketOpened) out << sourceSpecificRefused;
      break;
    default:
      out << failure;
      break;
  }
}

}  // namespace

void TextOutput::passBegins(const PassFindings& findings) {
  family_ = findings.family;
  out_ << "Running " << kTestCount << " Tests : \n";
}

void TextOutput::testBegins(const TestRecord& record) {
  out_ << "\t" << testHeader(record, family_) << "\n";
}

void TextOutput::verdictReached(const TestRecord& record) {
  if (family_ == net::Family::V6) {
    printIpv6Result(out_, record);
    return;
  }
  switch (record.id) {
    case TestId::AsmBeacon:
    case TestId::SsmBeacon:
      printBeaconResult(out_, detailsOf<BeaconDetails>(record));
      break;
    case TestId::AnySourceMembership:
      printIgmpResult(out_, detailsOf<MembershipDetails>(record), "IGMPv2");
      break;
    case TestId::SourceMembership:
      printIgmpResult(out_, detailsOf<MembershipDetails>(record), "IGMPv3");
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
  const bool ipv6 = family_ == net::Family::V6;
  if (record.id == TestId::SsmBeacon && heldToOldVersion(detailsOf<BeaconDetails>(record))) {
    out_ << (ipv6 ? "The host is held to MLDv1 and cannot join IPv6 source-specific channels \n"
                  : "The host does not support SSM <IGMPv3> \n");
  }
  if (!record.error) return;
  const std::string failure = description(*record.error);
  if (ipv6) {
    printIpv6Failure(out_, record, failure);
    return;
  }
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

void TextOutput::passEnds(const PassReport& report) {
  const BatteryReport& battery = report.batteries.back();
  printReport(out_, battery);
  if (explain_) printDiagnosis(out_, battery);
}

void printReport(std::ostream& out, const BatteryReport& battery) {
  const PassFindings& findings = battery.findings;
  out << std::endl << std::endl;
  out << "*****************************************" << std::endl;
  if (findings.family == net::Family::V4) {
    out << "*     Multicast Corvanite Report        *" << std::endl;
  } else {
    out << "*  Multicast Corvanite Report (IPv6)    *" << std::endl;
  }
  out << "*****************************************" << std::endl;
  for (const HeldConclusion& held : battery.conclusions) out << held.line << "\n";
}

void printDiagnosis(std::ostream& out, const BatteryReport& battery) {
  out << "\nDiagnosis:\n";
  if (battery.diagnosis.empty()) out << "  (nothing to add to the report)\n";
  for (const Finding& finding : battery.diagnosis) {
    const std::string head = std::string("  [") + severityName(finding.severity) + "] ";
    out << head << findingSentence(finding) << "\n";
    // Under the sentence, where the eye goes next.
    if (const auto fix = findingFix(finding)) {
      out << std::string(head.size(), ' ') << "Fix: " << *fix << "\n";
    }
  }
}
