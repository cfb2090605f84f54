#include "app/battery.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <stdexcept>

#include "app/battery_tests.h"

namespace {

bool membersHeard(const TestRecord& record) {
  return !detailsOf<BeaconDetails>(record).members.empty();
}

bool routerAnswered(const TestRecord& record) {
  return !detailsOf<PingDetails>(record).replies.empty();
}

bool queryForGroupSeen(const TestRecord& record) {
  return detailsOf<IgmpDetails>(record).sawQueryForGroup;
}

bool pimRouterHeard(const TestRecord& record) {
  const auto& pim = detailsOf<PimDetails>(record);
  return !pim.hellos.empty() || !pim.rpAdvertisers.empty();
}

using net::Family;

constexpr std::array<BatteryTest, 8> kIpv4Battery{{
    {TestId::AsmBeacon, 1, Family::V4, "asm-beacon", runAsmBeaconTest, membersHeard},
    {TestId::SsmBeacon, 2, Family::V4, "ssm-beacon", runSsmBeaconTest, membersHeard},
    {TestId::AllRoutersPing, 3, Family::V4, "all-routers-ping", runAllRoutersPingTest,
     routerAnswered},
    {TestId::SsmRoutersPing, 4, Family::V4, "igmpv3-routers-ping", runSsmRoutersPingTest,
     routerAnswered},
    {TestId::IgmpV2, 5, Family::V4, "igmpv2-query", runIgmpV2Test, queryForGroupSeen},
    {TestId::IgmpV3, 6, Family::V4, "igmpv3-query", runIgmpV3Test, queryForGroupSeen},
    {TestId::PimRoutersPing, 7, Family::V4, "pim-routers-ping", runPimRoutersPingTest,
     routerAnswered},
    {TestId::PimHello, 8, Family::V4, "pim-hello", runPimTest, pimRouterHeard},
}};

}  // namespace

std::span<const BatteryTest> ipv4Battery() { return kIpv4Battery; }

const BatteryTest& batteryTest(TestId id) {
  const auto found = std::find_if(kIpv4Battery.begin(), kIpv4Battery.end(),
                                  [id](const BatteryTest& test) { return test.id == id; });
  if (found == kIpv4Battery.end()) throw std::logic_error("test not in the battery");
  return *found;
}

PassFindings freshFindings() {
  PassFindings findings;
  for (const BatteryTest& test : ipv4Battery()) {
    TestRecord record;
    record.id = test.id;
    record.number = test.number;
    findings.tests.push_back(record);
  }
  return findings;
}

void runTest(const BatteryTest& test, net::Network& network, const PassSetup& setup,
             PassObserver& observer, TestRecord& record) {
  record.ran = true;
  const auto start = network.now();
  test.run(TestContext{test, network, setup, record, observer});
  record.durationMs = static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(network.now() - start).count());
  if (record.error) {
    record.outcome = TestOutcome::Error;
  } else {
    record.outcome = test.succeeded(record) ? TestOutcome::Succeeded : TestOutcome::Failed;
  }
  observer.testEnds(record);
}

void runPass(net::Network& network, const PassSetup& setup, PassObserver& observer,
             PassFindings& findings) {
  findings.tests = freshFindings().tests;
  network.prepareCaptures(setup.link);
  observer.passBegins(findings);
  for (const BatteryTest& test : ipv4Battery()) {
    if (!observer.stillWanted()) return;
    runTest(test, network, setup, observer, *findings.find(test.id));
  }
  observer.passEnds(findings);
}
