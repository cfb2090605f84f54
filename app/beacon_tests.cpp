#include <algorithm>
#include <map>

#include "app/battery_constants.h"
#include "app/battery_tests.h"
#include "net/packet/ip_datagram.h"
#include "probes/group_receiver.h"
#include "probes/probe_limits.h"

namespace {

// Members in address order, as the receiver keeps them.
void recordMembers(BeaconDetails& details, const GroupReceiver& receiver) {
  for (const auto& [address, datagrams] : receiver.members()) {
    details.members.push_back(BeaconMember{address, datagrams});
  }
  details.unlistedMemberDatagrams = receiver.unlistedDatagrams();
}

// A capture of what reaches the interface for the beacon, or nothing: it is
// evidence beside the test, and the test goes on without it.
std::unique_ptr<net::ProbeSocket> openLinkCapture(const TestContext& context,
                                                  const BeaconDetails& details) {
  try {
    return context.network.openBeaconCapture(
        net::udpDatagramsTo(net::Endpoint{details.group, details.port}, details.source),
        context.setup.link);
  } catch (const net::CV_SocketException&) {
  } catch (const net::CV_RawSocketException&) {
  }
  return nullptr;
}

// Every sender the capture saw, with its datagrams and lowest TTL; where the
// socket took none, also the interface the host routes back to it by.
void recordLinkTraffic(const TestContext& context, BeaconDetails& details,
                       net::ProbeSocket& capture) {
  std::map<net::Address, LinkSender> senders;
  std::int64_t unlisted = 0;
  capture.drain([&](const net::ReceivedDatagram& received) {
    const auto datagram = net::parseDatagram(received.bytes);
    if (!datagram) return net::AfterDatagram::KeepListening;
    auto sender = senders.find(datagram->source);
    if (sender == senders.end()) {
      if (senders.size() == kMaxLinkSendersKept) {
        ++unlisted;
        return net::AfterDatagram::KeepListening;
      }
      sender = senders
                   .emplace(datagram->source,
                            LinkSender{datagram->source, 0, datagram->hopLimit, std::nullopt})
                   .first;
    }
    ++sender->second.datagrams;
    sender->second.lowestTtl = std::min(sender->second.lowestTtl, datagram->hopLimit);
    return net::AfterDatagram::KeepListening;
  });
  details.onLink.emplace();
  details.onLink->reserve(senders.size());
  for (auto& [address, sender] : senders) details.onLink->push_back(std::move(sender));
  details.unlistedLinkDatagrams = unlisted;
  if (details.members.empty()) {
    for (LinkSender& sender : *details.onLink) {
      sender.routeInterfaces = context.network.routeInterfaces(sender.address, context.setup.link);
    }
  }
}

// Joins, listens and leaves; the members heard are the verdict, reached
// before the leave.
void receiveBeacon(const TestContext& context, BeaconDetails& details) {
  const PassSetup& setup = context.setup;
  GroupReceiver receiver(context.network, context.test.family, details.port);
  details.socketOpened = true;
  // A join on a link that went down since the pass began could hear nothing.
  context.network.requireLinkUp(setup.link, "SetOption");
  if (details.source) {
    // A host held to IGMPv1 or v2, or to MLDv1, sends a source-specific join
    // without its source: whatever it then hears is no proof of SSM.
    const auto state = context.network.hostState(setup.link);
    const bool ipv4 = context.test.family == net::Family::V4;
    const auto& forced = ipv4 ? state.forcedIgmpVersion : state.forcedMldVersion;
    if (forced && forced->value < (ipv4 ? 3 : 2)) {
      details.heldToOldIgmp = forced;
      return;
    }
    // An older querier heard lately holds the interface back just the same,
    // until its timer runs out. The kernel shows no such mode for MLD.
    if (ipv4 && state.igmpMode && *state.igmpMode < 3) {
      details.heldInIgmpMode = state.igmpMode;
      return;
    }
  }
  const auto capture = openLinkCapture(context, details);
  receiver.join(details.group, details.source, setup.interfaceIndex());
  receiver.receive(battery::kBeaconListeningMs, net::AfterDatagram::KeepListening);
  recordMembers(details, receiver);
  if (capture) recordLinkTraffic(context, details, *capture);
  context.verdictReached();
  receiver.leave(details.group, details.source, setup.interfaceIndex());
}

}  // namespace

void runAsmBeaconTest(const TestContext& context) {
  const auto& beacon = context.setup.asmGroup;
  auto& details = context.record.details.emplace<BeaconDetails>();
  details.group = beacon.group;
  details.port = beacon.port;
  context.begins();
  recordingSocketFailures(context.record, [&] { receiveBeacon(context, details); });
}

void runSsmBeaconTest(const TestContext& context) {
  const auto& channel = context.setup.ssmChannel;
  auto& details = context.record.details.emplace<BeaconDetails>();
  details.group = channel.group;
  details.port = channel.port;
  details.source = channel.source;
  context.begins();
  recordingSocketFailures(context.record, [&] {
    context.network.pause(battery::kPauseBeforeSsmReceiverMs);
    receiveBeacon(context, details);
  });
}
