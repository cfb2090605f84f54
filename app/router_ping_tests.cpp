#include "app/battery_constants.h"
#include "app/battery_tests.h"
#include "probes/group_pinger.h"

namespace {

// Pings the group once; the first reply ends the wait.
void runRouterPingTest(const TestContext& context, const net::Address& group) {
  auto& details = context.record.details.emplace<PingDetails>();
  details.group = group;
  context.begins();
  recordingSocketFailures(context.record, [&] {
    GroupPinger pinger(context.network, context.test.family, context.setup.link);
    pinger.ping(group);
    pinger.receiveReplies(battery::kEchoReplyWaitMs, net::AfterDatagram::StopListening);
    details.replies = pinger.replies();
    details.unlistedReplies = pinger.unlistedReplies();
  });
}

}  // namespace

void runAllRoutersPingTest(const TestContext& context) {
  runRouterPingTest(context, net::allRoutersGroup(context.test.family));
}

void runSsmRoutersPingTest(const TestContext& context) {
  runRouterPingTest(context, net::membershipRoutersGroup(context.test.family));
}

void runPimRoutersPingTest(const TestContext& context) {
  runRouterPingTest(context, net::allPimRoutersGroup(context.test.family));
}
