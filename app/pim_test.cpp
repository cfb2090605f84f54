#include "app/battery_constants.h"
#include "app/battery_tests.h"
#include "probes/pim_prober.h"

void runPimTest(const TestContext& context) {
  auto& details = context.record.details.emplace<PimDetails>();
  context.begins();
  recordingSocketFailures(context.record, [&] {
    PimProber prober(context.network, context.test.family, context.setup.link);
    prober.sendHello();
    prober.receiveMessages(battery::kPimListeningMs);
    prober.sendGoodbye();
    details.hellos = prober.hellos();
    details.rpAdvertisers = prober.rpAdvertisers();
    details.unlistedHellos = prober.unlistedHellos();
    details.unlistedRpAdvertisements = prober.unlistedRpAdvertisements();
    details.corruptMessages = prober.corruptMessages();
    context.verdictReached();
  });
}
