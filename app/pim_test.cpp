#include "app/battery.h"
#include "app/battery_constants.h"
#include "app/failure_scope.h"
#include "net/address.h"
#include "probes/pim_prober.h"

namespace {

void recordPimSenders(TestRecord& record, const PimProber& prober) {
  auto& details = std::get<PimDetails>(record.details);
  for (const HelloDetails& hello : prober.hellos()) {
    details.hellos.push_back(HelloRecord{net::addressText(hello.sender), hello.holdtimeSeconds,
                                         hello.drPriority, hello.generationId});
  }
  details.rpAdvertisers = prober.rpAdvertisers();
}

}  // namespace

void runPimTest(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  TestRecord& record = findings.tests[7];
  record.details.emplace<PimDetails>();
  runInRawSocketScope(out, record, [&] {
    printHeader(out, record, "\t8.  Detecting if first-hop router knows about an RP \n");
    PimProber prober(setup.link);
    prober.sendHello();
    prober.receiveMessages(battery::kPimListeningMs);
    recordPimSenders(record, prober);
    if (const std::string responders = prober.respondersText(); !responders.empty()) {
      findings.flags.pimHelloAnswered = true;
      findings.pimResponderText = responders;
      out << "Test succeeded:  received responses to Hello Message \n";
    } else if (const std::string rps = prober.rpText(); !rps.empty()) {
      findings.flags.pimHelloAnswered = true;
      findings.pimResponderText = rps;
      out << "Test succeeded:  first-hop router responded with RP \n";
    } else {
      out << "Test failed:  no router responded to PIM-SM Hello \n";
    }
  });
}
