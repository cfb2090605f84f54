#include "app/battery.h"
#include "app/battery_constants.h"
#include "app/failure_scope.h"
#include "net/address.h"
#include "probes/group_pinger.h"

namespace {

void runRouterPingTest(std::ostream& out, const PassSetup& setup, TestRecord& record,
                       const char* header, std::uint32_t groupNumber, bool& answered) {
  const in_addr group = net::addressOf(groupNumber);
  auto& details = record.details.emplace<PingDetails>(PingDetails{net::addressText(group), {}});
  runInRawSocketScope(out, record, [&] {
    printHeader(out, record, header);
    GroupPinger pinger(setup.link);
    pinger.ping(group);
    pinger.receiveReplies(battery::kEchoReplyWaitMs, false);
    for (const auto& reply : pinger.replies()) {
      details.replies.push_back(RouterReply{net::addressText(reply.from), reply.roundTripMs});
    }
    if (pinger.hasReplies()) answered = true;
  });
}

}  // namespace

void runAllRoutersPingTest(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  runRouterPingTest(out, setup, findings.tests[2],
                    "\t3.  Checking presence of multicast capable router in the neighborhood \n",
                    net::kAllRoutersGroup, findings.flags.allRoutersAnswered);
}

void runSsmRoutersPingTest(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  runRouterPingTest(out, setup, findings.tests[3],
                    "\t4.  Checking presence of SSM capable router in the neighborhood \n",
                    net::kIgmpV3RoutersGroup, findings.flags.ssmRoutersAnswered);
}

void runPimRoutersPingTest(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  runRouterPingTest(out, setup, findings.tests[6],
                    "\t7.  Detecting presence of PIM-SM capable router \n",
                    net::kAllPimRoutersGroup, findings.flags.pimRoutersAnswered);
}
