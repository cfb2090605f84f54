#include "app/battery.h"
#include "app/battery_constants.h"
#include "app/failure_scope.h"
#include "probes/group_pinger.h"

namespace {

void runRouterPingTest(std::ostream& out, const PassSetup& setup, const char* header,
                       const char* group, bool& answered) {
  runInRawSocketScope(out, [&] {
    out << header;
    GroupPinger pinger(setup.link);
    pinger.ping(group);
    pinger.receiveReplies(battery::kEchoReplyWaitMs, false);
    if (pinger.hasReplies()) answered = true;
  });
}

}  // namespace

void runAllRoutersPingTest(std::ostream& out, const PassSetup& setup, RunFlags& flags) {
  runRouterPingTest(out, setup,
                    "\t3.  Checking presence of multicast capable router in the neighborhood \n",
                    battery::kAllRoutersGroup, flags.allRoutersAnswered);
}

void runSsmRoutersPingTest(std::ostream& out, const PassSetup& setup, RunFlags& flags) {
  runRouterPingTest(out, setup,
                    "\t4.  Checking presence of SSM capable router in the neighborhood \n",
                    battery::kIgmpV3RoutersGroup, flags.ssmRoutersAnswered);
}

void runPimRoutersPingTest(std::ostream& out, const PassSetup& setup, RunFlags& flags) {
  runRouterPingTest(out, setup, "\t7.  Detecting presence of PIM-SM capable router \n",
                    battery::kAllPimRoutersGroup, flags.pimRoutersAnswered);
}
