#include <sstream>

#include "app/battery.h"
#include "app/battery_constants.h"
#include "app/test_record_scope.h"
#include "net/address.h"
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

// A join on a link that went down since the pass began could hear nothing.
void requireLinkUp(const PassSetup& setup) {
  if (setup.link.chosen) net::requireInterfaceUp(*setup.link.chosen, "SetOption");
}

}  // namespace

void runAsmBeaconTest(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  PassFlags& flags = findings.flags;
  TestRecord& record = findings.tests[0];
  const std::string group = net::addressText(setup.asmGroup.group);
  auto& details = record.details.emplace<BeaconDetails>(
      BeaconDetails{group, setup.asmGroup.port, std::nullopt, {}});
  try {
    std::ostringstream header;
    header << "\t1.  Joining NLAR Multicast Beacon Group " << group << ", port "
           << setup.asmGroup.port << " \n";
    printHeader(out, record, header.str());
    GroupReceiver receiver(setup.asmGroup.port);
    requireLinkUp(setup);
    receiver.joinGroup(setup.asmGroup.group, setup.joinInterface());
    receiver.receive(battery::kBeaconListeningMs, true);
    recordMembers(details, receiver);
    if (reportMembers(out, receiver)) flags.asmBeaconHeard = true;
    receiver.leaveGroup(setup.asmGroup.group, setup.joinInterface());
    flags.hostAsmCapable = true;
  } catch (const net::CV_SocketException& failure) {
    recordFailure(record, failure);
    out << "Exception while joining Beacon Group:" << failure.description() << std::endl;
  }
}

void runSsmBeaconTest(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  PassFlags& flags = findings.flags;
  TestRecord& record = findings.tests[1];
  const std::string group = net::addressText(setup.ssmChannel.group);
  const std::string source = net::addressText(setup.ssmChannel.source);
  auto& details = record.details.emplace<BeaconDetails>(
      BeaconDetails{group, setup.ssmChannel.port, source, {}});
  try {
    std::ostringstream header;
    header << "\t2.  Joining SSM Video Group " << group << ", " << source << " port "
           << setup.ssmChannel.port << " \n";
    printHeader(out, record, header.str());
    net::pauseMs(battery::kPauseBeforeSsmReceiverMs);
    GroupReceiver receiver(setup.ssmChannel.port);
    // A refusal from here on means the host can't do source-specific joins.
    try {
      requireLinkUp(setup);
      receiver.joinSourceGroup(setup.ssmChannel.group, setup.ssmChannel.source,
                               setup.joinInterface());
      receiver.receive(battery::kBeaconListeningMs, true);
      recordMembers(details, receiver);
      if (reportMembers(out, receiver)) flags.ssmBeaconHeard = true;
      receiver.leaveSourceGroup(setup.ssmChannel.group, setup.ssmChannel.source,
                                setup.joinInterface());
      flags.hostSsmCapable = true;
    } catch (const net::CV_SocketException& failure) {
      recordFailure(record, failure);
      out << "Exception while joining SSM Group:" << failure.description()
          << "The host does not support SSM <IGMPv3> \n";
    }
  } catch (const net::CV_SocketException& failure) {
    recordFailure(record, failure);
    out << "Exception while joining SSM Group:" << failure.description() << std::endl;
  }
}
