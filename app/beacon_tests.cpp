#include <sstream>

#include "app/battery.h"
#include "app/battery_constants.h"
#include "app/test_record_scope.h"
#include "net/platform.h"
#include "net/socket_exceptions.h"
#include "probes/group_receiver.h"

namespace {

// Returns true when members were heard.
bool reportMembers(std::ostream& out, const GroupReceiver& receiver) {
  if (receiver.memberCount() < 1) {
    out << "Test failed:  did not get reponse from any member \n";
    return false;
  }
  out << "Test succeeded:   received response from " << receiver.memberCount() << " members \n";
  return true;
}

void recordMembers(BeaconDetails& details, const GroupReceiver& receiver) {
  for (const auto& [address, datagrams] : receiver.memberTable()) {
    details.members.push_back(BeaconMember{address, datagrams});
  }
}

}  // namespace

void runAsmBeaconTest(std::ostream& out, PassFindings& findings) {
  RunFlags& flags = findings.flags;
  TestRecord& record = findings.tests[0];
  auto& details = record.details.emplace<BeaconDetails>(
      BeaconDetails{battery::kAsmBeaconGroup, battery::kAsmBeaconPort, std::nullopt, {}});
  try {
    std::ostringstream header;
    header << "\t1.  Joining NLAR Multicast Beacon Group " << battery::kAsmBeaconGroup << ", port "
           << battery::kAsmBeaconPort << " \n";
    printHeader(out, record, header.str());
    GroupReceiver receiver(battery::kAsmBeaconPort);
    receiver.joinGroup(battery::kAsmBeaconGroup);
    receiver.receive(battery::kBeaconListeningMs, true);
    recordMembers(details, receiver);
    if (reportMembers(out, receiver)) flags.asmBeaconHeard = true;
    receiver.leaveGroup(battery::kAsmBeaconGroup);
    flags.hostAsmCapable = true;
  } catch (const CV_SocketException& failure) {
    recordFailure(record, failure);
    out << "Exception while joining Beacon Group:" << failure.description() << std::endl;
  }
}

void runSsmBeaconTest(std::ostream& out, PassFindings& findings) {
  RunFlags& flags = findings.flags;
  TestRecord& record = findings.tests[1];
  auto& details = record.details.emplace<BeaconDetails>(BeaconDetails{
      battery::kSsmBeaconGroup, battery::kSsmBeaconPort, battery::kSsmBeaconSource, {}});
  try {
    std::ostringstream header;
    header << "\t2.  Joining SSM Video Group " << battery::kSsmBeaconGroup << ", "
           << battery::kSsmBeaconSource << " port " << battery::kSsmBeaconPort << " \n";
    printHeader(out, record, header.str());
    net::pauseMs(battery::kPauseBeforeSsmReceiverMs);
    GroupReceiver receiver(battery::kSsmBeaconPort);
    // A refusal from here on means the host can't do source-specific joins.
    try {
      receiver.joinSourceGroup(battery::kSsmBeaconGroup, battery::kSsmBeaconSource);
      receiver.receive(battery::kBeaconListeningMs, true);
      recordMembers(details, receiver);
      if (reportMembers(out, receiver)) flags.ssmBeaconHeard = true;
      receiver.leaveSourceGroup(battery::kSsmBeaconGroup, battery::kSsmBeaconSource);
      flags.hostSsmCapable = true;
    } catch (const CV_SocketException& failure) {
      recordFailure(record, failure);
      out << "Exception while joining SSM Group:" << failure.description()
          << "The host does not support SSM <IGMPv3> \n";
    }
  } catch (const CV_SocketException& failure) {
    recordFailure(record, failure);
    out << "Exception while joining SSM Group:" << failure.description() << std::endl;
  }
}
