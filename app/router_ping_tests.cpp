#include "app/battery_constants.h"
#include "app/battery_tests.h"
#include "probes/group_pinger.h"
#include "probes/icmp_echo.h"

namespace {

// A capture of the echo replies to this ping as they reach the interface, or
// nothing: a firewall may drop them before the pinger's socket, and the
// capture is what tells. The test goes on without it.
std::unique_ptr<net::ProbeSocket> openReplyCapture(const TestContext& context,
                                                   const GroupPinger& pinger) {
  try {
    return context.network.openBeaconCapture(
        echoReplyCapture(context.test.family, pinger.identifier()), context.setup.link);
  } catch (const net::CV_SocketException&) {
  } catch (const net::CV_RawSocketException&) {
  }
  return nullptr;
}

// What the capture saw; nothing when reading it failed, which is no failure
// of the test.
std::optional<std::int64_t> repliesIn(net::ProbeSocket& capture, std::uint16_t identifier) {
  std::int64_t replies = 0;
  try {
    capture.drain([&](const net::ReceivedDatagram& datagram) {
      if (echoReplySender(datagram.bytes, identifier)) ++replies;
      return net::AfterDatagram::KeepListening;
    });
  } catch (const net::CV_SocketException&) {
    return std::nullopt;
  }
  return replies;
}

// Pings the group once; the first reply ends the wait.
void runRouterPingTest(const TestContext& context, const net::Address& group) {
  auto& details = context.record.details.emplace<PingDetails>();
  details.group = group;
  context.begins();
  recordingSocketFailures(context.record, [&] {
    GroupPinger pinger(context.network, context.test.family, context.setup.link);
    const auto capture = openReplyCapture(context, pinger);
    pinger.ping(group);
    pinger.receiveReplies(battery::kEchoReplyWaitMs, net::AfterDatagram::StopListening);
    details.replies = pinger.replies();
    details.unlistedReplies = pinger.unlistedReplies();
    if (capture) details.repliesOnLink = repliesIn(*capture, pinger.identifier());
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
