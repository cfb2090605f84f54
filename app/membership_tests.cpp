// Tests 5 and 6: the first-hop router probed with the host's own membership
// messages, IGMP on IPv4 and MLD on IPv6.
#include "app/battery_constants.h"
#include "app/battery_tests.h"
#include "probes/membership_prober.h"

namespace {

// The time between two reports is spent reading the capture, not paused: a
// query that comes then counts as it always has, and a busy link cannot fill
// the capture's queue before the router answers the second report (a full
// queue drops what arrives next).
void watchBetweenReports(MembershipProber& prober, std::uint32_t milliseconds) {
  prober.receiveQueries(static_cast<std::int32_t>(milliseconds), net::AfterDatagram::KeepListening);
}

// What the prober saw; the verdict is whether the router answered for the group.
void recordQueries(const TestContext& context, MembershipDetails& details,
                   const MembershipProber& prober) {
  details.queries = prober.queries();
  details.unlistedQueries = prober.unlistedQueries();
  details.corruptQueries = prober.corruptQueries();
  details.sawQueryForGroup = prober.sawQueryForGroup();
  context.verdictReached();
}

// A leave or BLOCK for a group another socket of the host holds would stop
// that program's stream on a router or switch that leaves at once. Asked
// before the report and again before the leave: either finding holds.
void withholdIfHeld(const TestContext& context, MembershipDetails& details,
                    MembershipProber& prober) {
  if (details.leaveWithheld || !context.network.hostHoldsGroup(details.group, context.setup.link)) {
    return;
  }
  details.leaveWithheld = true;
  prober.withholdLeave();
}

}  // namespace

void runAnySourceProbe(const TestContext& context) {
  const net::Family family = context.test.family;
  auto& details = context.record.details.emplace<MembershipDetails>();
  details.group = context.setup.asmGroup.group;
  // Any router that answers with a query for the group speaks IGMPv2 or MLDv1.
  details.lowestVersion = 1;
  context.begins();
  recordingSocketFailures(context.record, [&] {
    MembershipProber prober(context.network, family, details.group, details.lowestVersion,
                            context.setup.link);
    withholdIfHeld(context, details, prober);
    prober.sendAnySourceReport(details.group);
    watchBetweenReports(prober, battery::kPauseBetweenJoinAndLeaveMs);
    withholdIfHeld(context, details, prober);
    if (!details.leaveWithheld) prober.sendAnySourceLeave(details.group);
    prober.receiveQueries(battery::kQueryListeningMs, net::AfterDatagram::KeepListening);
    recordQueries(context, details, prober);
  });
}

void runSourceProbe(const TestContext& context) {
  const net::Family family = context.test.family;
  const auto& channel = context.setup.ssmChannel;
  auto& details = context.record.details.emplace<MembershipDetails>();
  details.group = channel.group;
  // Only a query of the newest version (IGMPv3: 12 bytes or more; MLDv2)
  // shows a router that can serve a source-specific join; an older one's
  // query is an older router's answer.
  details.lowestVersion = membershipProtocol(family).sourceVersion;
  context.begins();
  recordingSocketFailures(context.record, [&] {
    context.network.pause(battery::kPauseBeforeSourceMembershipMs);
    MembershipProber prober(context.network, family, channel.group, details.lowestVersion,
                            context.setup.link);
    withholdIfHeld(context, details, prober);
    prober.sendSourceReport(channel.group, channel.source, kAllowNewSources);
    watchBetweenReports(prober, battery::kPauseBetweenSourceReportsMs);
    withholdIfHeld(context, details, prober);
    if (!details.leaveWithheld) {
      prober.sendSourceReport(channel.group, channel.source, kBlockOldSources);
    }
    prober.receiveQueries(battery::kQueryListeningMs, net::AfterDatagram::KeepListening);
    recordQueries(context, details, prober);
  });
}
