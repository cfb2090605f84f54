#include <algorithm>

#include "app/battery_constants.h"
#include "app/battery_tests.h"
#include "probes/group_receiver.h"

namespace {

// Members in the order of their address texts, as the report has always listed them.
void recordMembers(BeaconDetails& details, const GroupReceiver& receiver) {
  for (const auto& [address, datagrams] : receiver.members()) {
    details.members.push_back(BeaconMember{address, datagrams});
  }
  std::sort(details.members.begin(), details.members.end(),
            [](const BeaconMember& a, const BeaconMember& b) {
              return a.address.toString() < b.address.toString();
            });
}

// Joins, listens and leaves; the members heard are the verdict, reached
// before the leave.
void receiveBeacon(const TestContext& context, BeaconDetails& details) {
  const PassSetup& setup = context.setup;
  GroupReceiver receiver(context.network, context.test.family, details.port);
  details.socketOpened = true;
  // A join on a link that went down since the pass began could hear nothing.
  context.network.requireLinkUp(setup.link, "SetOption");
  receiver.join(details.group, details.source, setup.interfaceIndex());
  receiver.receive(battery::kBeaconListeningMs, net::AfterDatagram::KeepListening);
  recordMembers(details, receiver);
  context.verdictReached();
  receiver.leave(details.group, details.source, setup.interfaceIndex());
}

}  // namespace

void runAsmBeaconTest(const TestContext& context) {
  const auto& beacon = context.setup.asmGroup;
  auto& details = context.record.details.emplace<BeaconDetails>();
  details.group = beacon.group;
  details.port = beacon.port;
  context.begins();
  recordingSocketFailures(context.record, [&] { receiveBeacon(context, details); });
}

void runSsmBeaconTest(const TestContext& context) {
  const auto& channel = context.setup.ssmChannel;
  auto& details = context.record.details.emplace<BeaconDetails>();
  details.group = channel.group;
  details.port = channel.port;
  details.source = channel.source;
  context.begins();
  recordingSocketFailures(context.record, [&] {
    context.network.pause(battery::kPauseBeforeSsmReceiverMs);
    receiveBeacon(context, details);
  });
}
