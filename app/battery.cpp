#include "app/battery.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <utility>

#include "app/battery_tests.h"
#include "net/socket_exceptions.h"
#include "probes/membership_prober.h"

namespace {

bool membersHeard(const TestRecord& record) {
  return !detailsOf<BeaconDetails>(record).members.empty();
}

bool routerAnswered(const TestRecord& record) {
  return !detailsOf<PingDetails>(record).replies.empty();
}

bool queryForGroupSeen(const TestRecord& record) {
  return detailsOf<MembershipDetails>(record).sawQueryForGroup;
}

bool pimRouterHeard(const TestRecord& record) {
  const auto& pim = detailsOf<PimDetails>(record);
  return !pim.hellos.empty() || !pim.rpAdvertisers.empty();
}

using net::Family;

// The list's rows for one family: IPv6's speak MLD where IPv4's speak IGMP,
// and ping ff02::2, ff02::16 and ff02::d in place of IPv4's routers' groups.
constexpr std::array<BatteryTest, kTestCount> kIpv4Battery{{
#define BATTERY_TEST(id, number, run, found, feeds, name4, name6, header4, header6) \
  {TestId::id, number, Family::V4, name4, header4, run, found, &PassFlags::feeds},
#include "app/battery.def"
}};

constexpr std::array<BatteryTest, kTestCount> kIpv6Battery{{
#define BATTERY_TEST(id, number, run, found, feeds, name4, name6, header4, header6) \
  {TestId::id, number, Family::V6, name6, header6, run, found, &PassFlags::feeds},
#include "app/battery.def"
}};

}  // namespace

std::span<const BatteryTest> ipv4Battery() { return kIpv4Battery; }

std::span<const BatteryTest> batteryOf(net::Family family) {
  if (family == Family::V4) return kIpv4Battery;
  return kIpv6Battery;
}

const BatteryTest& batteryTest(TestId id, net::Family family) {
  const auto battery = batteryOf(family);
  const auto found = std::find_if(battery.begin(), battery.end(),
                                  [id](const BatteryTest& test) { return test.id == id; });
  if (found == battery.end()) throw std::logic_error("test not in the battery");
  return *found;
}

PassFindings freshFindings(net::Family family) {
  PassFindings findings;
  findings.family = family;
  for (const BatteryTest& test : batteryOf(family)) {
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

namespace {

InterfaceSummary summaryOf(const PassSetup& setup) {
  InterfaceSummary summary;
  if (!setup.link.chosen) return summary;
  const net::LinkInterface& chosen = *setup.link.chosen;
  if (!chosen.name.empty()) summary.name = chosen.name;
  summary.address = chosen.address.toString();
  summary.chosenBy = net::chosenByText(chosen.chosenBy);
  return summary;
}

// The pass's watch on the link's general queries, or none: it is evidence
// beside the tests, and the pass goes on without it.
std::unique_ptr<GeneralQueryWatch> watchGeneralQueries(net::Network& network,
                                                       const PassSetup& setup) {
  try {
    return std::make_unique<GeneralQueryWatch>(network, setup.family, setup.link);
  } catch (const net::CV_SocketException&) {
  } catch (const net::CV_RawSocketException&) {
  } catch (const net::CV_PlatformLacksException&) {
  }
  return nullptr;
}

// Takes in what the watch holds; a watch whose reading failed is given up,
// since what it missed is not known.
void collectQueries(std::unique_ptr<GeneralQueryWatch>& watch) {
  if (!watch) return;
  try {
    watch->collect();
  } catch (const net::CV_SocketException&) {
    watch.reset();
  }
}

std::optional<LinkQueries> linkQueriesOf(const GeneralQueryWatch* watch) {
  if (watch == nullptr) return std::nullopt;
  return LinkQueries{watch->queries(), watch->unlistedQueries(),
                     static_cast<std::uint32_t>(watch->watched().count())};
}

}  // namespace

void runPass(net::Network& network, const PassSetup& setup, PassObserver& observer,
             PassReport& report) {
  RunMemory forgotten;
  runPass(network, setup, observer, report, forgotten);
}

void runPass(net::Network& network, const PassSetup& setup, PassObserver& observer,
             PassReport& report, RunMemory& memory) {
  PassFindings findings = freshFindings(setup.family);
  findings.chosenInterface = summaryOf(setup);
  findings.link = setup.link.chosen;
  network.prepareCaptures(setup.link);
  observer.passBegins(findings);
  // Queries come every minute or two: one outside tests 5 and 6 proves a
  // querier too.
  auto watch = watchGeneralQueries(network, setup);
  for (const BatteryTest& test : batteryOf(setup.family)) {
    if (!observer.stillWanted()) break;
    runTest(test, network, setup, observer, *findings.find(test.id));
    collectQueries(watch);
  }
  findings.linkQueries = linkQueriesOf(watch.get());
  watch.reset();
  // No capture holds the interface in all-multicast mode between passes.
  network.releaseCaptures();
  if (!observer.stillWanted()) {
    // Not told: nobody reads it. Its tests that did not run make it no success.
    report.batteryEnded(std::move(findings));
    return;
  }
  // After the tests: an older querier heard during them shows in the mode.
  findings.hostState = network.hostState(setup.link);
  if (const auto kept = memory.hellos.find(setup.family); kept != memory.hellos.end()) {
    findings.previousHellos = kept->second;
  }
  // A pass whose PIM test failed heard nobody: it proves no restart.
  if (findings.ranCleanly(TestId::PimHello)) {
    memory.hellos[setup.family] = findings.details<PimDetails>(TestId::PimHello).hellos;
  } else {
    memory.hellos.erase(setup.family);
  }
  report.batteryEnded(std::move(findings));
  observer.passEnds(report);
}
