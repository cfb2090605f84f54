#include "app/findings.h"

#include <algorithm>
#include <utility>

#include "app/battery.h"

namespace {

// Test 1 and 2 complete only when the join, the listening and the leave all
// succeeded.
bool completed(const PassFindings& findings, TestId id) {
  return findings.ranCleanly(id) && !heldToOldVersion(findings.details<BeaconDetails>(id));
}

// Whether test `id` found what it looks for, by its row of the battery.
bool found(const PassFindings& findings, TestId id) {
  const TestRecord* record = findings.find(id);
  return record != nullptr && batteryTest(id, findings.family).succeeded(*record);
}

std::string joinedTexts(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  std::string joined;
  for (const std::string& text : texts) joined += text + ", ";
  return joined;
}

}  // namespace

const TestRecord* PassFindings::find(TestId id) const {
  const auto found = std::find_if(tests.begin(), tests.end(),
                                  [id](const TestRecord& test) { return test.id == id; });
  return found == tests.end() ? nullptr : &*found;
}

TestRecord* PassFindings::find(TestId id) {
  return const_cast<TestRecord*>(std::as_const(*this).find(id));
}

bool PassFindings::ranCleanly(TestId id) const {
  const TestRecord* record = find(id);
  return record != nullptr && record->ran && !record->error;
}

bool heldToOldVersion(const BeaconDetails& beacon) {
  return beacon.heldToOldIgmp.has_value() || beacon.heldInIgmpMode.has_value();
}

bool droppedByHost(const BeaconDetails& beacon) {
  return beacon.members.empty() && beacon.onLink && !beacon.onLink->empty();
}

PassFlags flagsOf(const PassFindings& findings) {
  PassFlags flags;
  flags.hostAsmCapable = completed(findings, TestId::AsmBeacon);
  flags.hostSsmCapable = completed(findings, TestId::SsmBeacon);
  // Each test's success feeds the flag its row of the battery names.
  for (const BatteryTest& test : batteryOf(findings.family)) {
    flags.*test.feeds = found(findings, test.id);
  }
  return flags;
}

std::string pimResponderText(const PassFindings& findings) {
  const auto& pim = findings.details<PimDetails>(TestId::PimHello);
  std::vector<std::string> texts;
  if (!pim.hellos.empty()) {
    for (const NeighbourHello& hello : pim.hellos) texts.push_back(hello.sender.toString());
  } else {
    for (const net::Address& rp : pim.rpAdvertisers) texts.push_back(rp.toString());
  }
  return joinedTexts(std::move(texts));
}
