#include "app/battery.h"
#include "app/battery_constants.h"
#include "app/failure_scope.h"
#include "net/address.h"
#include "probes/group_pinger.h"

namespace {

void runRouterPingTest(std::ostream& out, const PassSetup& setup, TestRecord& record,
                       const char* header, const char* group, bool& answered) {
  auto& details = record.details.emplace<PingDetails>(PingDetails{group, {}});
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
                    battery::kAllRoutersGroup, findings.flags.allRoutersAnswered);
}

void runSsmRoutersPingTest(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  runRouterPingTest(out, setup, findings.tests[3],
                    "\t4.  Checking presence of SSM capable router in the neighborhood \n",
                    battery::kIgmpV3RoutersGroup, findings.flags.ssmRoutersAnswered);
}

void runPimRoutersPingTest(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  runRouterPingTest(out, setup, findings.tests[6],
                    "\t7.  Detecting presence of PIM-SM capable router \n",
                    battery::kAllPimRoutersGroup, findings.flags.pimRoutersAnswered);
}
