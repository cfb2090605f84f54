#include "app/findings.h"

#include <algorithm>
#include <utility>

namespace {

// Test 1 and 2 complete only when the join, the listening and the leave all
// succeeded.
bool completed(const TestRecord* record) {
  return record != nullptr && record->ran && !record->error &&
         !detailsOf<BeaconDetails>(*record).heldToOldIgmp;
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

bool droppedByHost(const BeaconDetails& beacon) {
  return beacon.members.empty() && beacon.onLink && !beacon.onLink->empty();
}

PassFlags flagsOf(const PassFindings& findings) {
  PassFlags flags;
  flags.hostAsmCapable = completed(findings.find(TestId::AsmBeacon));
  flags.hostSsmCapable = completed(findings.find(TestId::SsmBeacon));
  flags.asmBeaconHeard = !findings.details<BeaconDetails>(TestId::AsmBeacon).members.empty();
  flags.ssmBeaconHeard = !findings.details<BeaconDetails>(TestId::SsmBeacon).members.empty();
  flags.allRoutersAnswered = !findings.details<PingDetails>(TestId::AllRoutersPing).replies.empty();
  flags.ssmRoutersAnswered = !findings.details<PingDetails>(TestId::SsmRoutersPing).replies.empty();
  flags.pimRoutersAnswered = !findings.details<PingDetails>(TestId::PimRoutersPing).replies.empty();
  // IPv6's tests 5 and 6 speak MLD: their flags mean the same of it.
  const bool ipv4 = findings.family == net::Family::V4;
  flags.igmpV2QuerySeen =
      findings.details<MembershipDetails>(ipv4 ? TestId::IgmpV2 : TestId::MldV1).sawQueryForGroup;
  flags.igmpV3QuerySeen =
      findings.details<MembershipDetails>(ipv4 ? TestId::IgmpV3 : TestId::MldV2).sawQueryForGroup;
  const auto& pim = findings.details<PimDetails>(TestId::PimHello);
  flags.pimHelloAnswered = !pim.hellos.empty() || !pim.rpAdvertisers.empty();
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
