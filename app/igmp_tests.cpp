#include "app/battery.h"
#include "app/battery_constants.h"
#include "app/failure_scope.h"
#include "net/address.h"
#include "probes/igmp_prober.h"

namespace {

void recordQueries(TestRecord& record, const IgmpProber& prober) {
  auto& details = std::get<IgmpDetails>(record.details);
  for (const auto& seen : prober.queries()) {
    const QueryDetails& query = seen.details;
    details.queries.push_back(QueryRecord{
        net::addressText(query.sender), net::addressText(query.destination), query.version,
        net::addressText(query.group), query.maxResponseMs, seen.sinceProbeMs});
  }
}

// Records what the prober saw and prints the verdict; `version` is "IGMPv2"
// or "IGMPv3".
void concludeFromQueries(std::ostream& out, TestRecord& record, const IgmpProber& prober,
                         const char* version, bool& querySeen) {
  recordQueries(record, prober);
  if (prober.sawQueryForGroup()) {
    querySeen = true;
    out << "Test succeeded:  received " << version << " response from the first-hop router \n";
  } else {
    out << "Test failed:  no " << version << " response received from the router \n";
  }
}

}  // namespace

void runIgmpV2Test(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  TestRecord& record = findings.tests[4];
  record.details.emplace<IgmpDetails>();
  runInRawSocketScope(out, record, [&] {
    printHeader(out, record,
                "\t5.  Detecting if there is IGMPv2 capability to first-hop router \n");
    const in_addr& group = setup.asmGroup.group;
    IgmpProber prober(group, setup.link);
    prober.sendReportV2(group);
    net::pauseMs(battery::kPauseBetweenV2ReportAndLeaveMs);
    prober.sendLeaveV2(group);
    prober.receiveQueries(battery::kQueryListeningMs, true);
    concludeFromQueries(out, record, prober, "IGMPv2", findings.flags.igmpV2QuerySeen);
  });
}

void runIgmpV3Test(std::ostream& out, const PassSetup& setup, PassFindings& findings) {
  TestRecord& record = findings.tests[5];
  record.details.emplace<IgmpDetails>();
  runInRawSocketScope(out, record, [&] {
    printHeader(out, record,
                "\t6.  Detecting if there is IGMPv3 capability to first-hop router \n");
    net::pauseMs(battery::kPauseBeforeIgmpV3TestMs);
    const in_addr& group = setup.ssmChannel.group;
    const in_addr& source = setup.ssmChannel.source;
    IgmpProber prober(group, setup.link);
    prober.sendReportV3(group, source, kIgmpV3AllowNewSources);
    net::pauseMs(battery::kPauseBetweenV3ReportsMs);
    prober.sendReportV3(group, source, kIgmpV3BlockOldSources);
    prober.receiveQueries(battery::kQueryListeningMs, true);
    concludeFromQueries(out, record, prober, "IGMPv3", findings.flags.igmpV3QuerySeen);
  });
}
