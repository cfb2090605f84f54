#include "app/battery_constants.h"
#include "app/battery_tests.h"
#include "probes/igmp_prober.h"

namespace {

// The time between two reports is spent reading the capture, not paused: a
// query that comes then counts as it always has, and a busy link cannot fill
// the capture's queue before the router answers the second report (a full
// queue drops what arrives next).
void watchBetweenReports(IgmpProber& prober, std::uint32_t milliseconds) {
  prober.receiveQueries(static_cast<std::int32_t>(milliseconds), net::AfterDatagram::KeepListening);
}

// What the prober saw; the verdict is whether the router answered for the group.
void recordQueries(const TestContext& context, IgmpDetails& details, const IgmpProber& prober) {
  details.queries = prober.queries();
  details.sawQueryForGroup = prober.sawQueryForGroup();
  context.verdictReached();
}

}  // namespace

void runIgmpV2Test(const TestContext& context) {
  auto& details = context.record.details.emplace<IgmpDetails>();
  details.group = context.setup.asmGroup.group;
  // Any router that answers with a query for the group speaks IGMPv2.
  details.lowestVersion = 1;
  context.begins();
  recordingSocketFailures(context.record, [&] {
    IgmpProber prober(context.network, details.group, details.lowestVersion, context.setup.link);
    prober.sendReportV2(details.group);
    watchBetweenReports(prober, battery::kPauseBetweenV2ReportAndLeaveMs);
    prober.sendLeaveV2(details.group);
    prober.receiveQueries(battery::kQueryListeningMs, net::AfterDatagram::KeepListening);
    recordQueries(context, details, prober);
  });
}

void runIgmpV3Test(const TestContext& context) {
  const auto& channel = context.setup.ssmChannel;
  auto& details = context.record.details.emplace<IgmpDetails>();
  details.group = channel.group;
  // Only an IGMPv3 query (12 bytes or more) shows a router that can serve a
  // source-specific join; an IGMPv2 one is an older router's answer.
  details.lowestVersion = 3;
  context.begins();
  recordingSocketFailures(context.record, [&] {
    context.network.pause(battery::kPauseBeforeIgmpV3TestMs);
    IgmpProber prober(context.network, channel.group, details.lowestVersion, context.setup.link);
    prober.sendReportV3(channel.group, channel.source, kIgmpV3AllowNewSources);
    watchBetweenReports(prober, battery::kPauseBetweenV3ReportsMs);
    prober.sendReportV3(channel.group, channel.source, kIgmpV3BlockOldSources);
    prober.receiveQueries(battery::kQueryListeningMs, net::AfterDatagram::KeepListening);
    recordQueries(context, details, prober);
  });
}
