#include "app/battery.h"
#include "app/battery_constants.h"
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

}  // namespace

void runAsmBeaconTest(std::ostream& out, RunFlags& flags) {
  try {
    out << "\t1.  Joining NLAR Multicast Beacon Group " << battery::kAsmBeaconGroup << ", port "
        << battery::kAsmBeaconPort << " \n";
    GroupReceiver receiver(battery::kAsmBeaconPort);
    receiver.joinGroup(battery::kAsmBeaconGroup);
    receiver.receive(battery::kBeaconListeningMs, true);
    if (reportMembers(out, receiver)) flags.asmBeaconHeard = true;
    receiver.leaveGroup(battery::kAsmBeaconGroup);
    flags.hostAsmCapable = true;
  } catch (const CV_SocketException& failure) {
    out << "Exception while joining Beacon Group:" << failure.description() << std::endl;
  }
}

void runSsmBeaconTest(std::ostream& out, RunFlags& flags) {
  try {
    out << "\t2.  Joining SSM Video Group " << battery::kSsmBeaconGroup << ", "
        << battery::kSsmBeaconSource << " port " << battery::kSsmBeaconPort << " \n";
    net::pauseMs(battery::kPauseBeforeSsmReceiverMs);
    GroupReceiver receiver(battery::kSsmBeaconPort);
    // A refusal from here on means the host can't do source-specific joins.
    try {
      receiver.joinSourceGroup(battery::kSsmBeaconGroup, battery::kSsmBeaconSource);
      receiver.receive(battery::kBeaconListeningMs, true);
      if (reportMembers(out, receiver)) flags.ssmBeaconHeard = true;
      receiver.leaveSourceGroup(battery::kSsmBeaconGroup, battery::kSsmBeaconSource);
      flags.hostSsmCapable = true;
    } catch (const CV_SocketException& failure) {
      out << "Exception while joining SSM Group:" << failure.description()
          << "The host does not support SSM <IGMPv3> \n";
    }
  } catch (const CV_SocketException& failure) {
    out << "Exception while joining SSM Group:" << failure.description() << std::endl;
  }
}
