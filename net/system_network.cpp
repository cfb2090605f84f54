#include "net/system_network.h"

#include "net/capture/link_capture.h"
#include "net/held_groups.h"
#include "net/socket.h"

namespace net {

std::unique_ptr<ProbeSocket> SystemNetwork::openReceiver(Family family, std::uint16_t port) {
  return std::make_unique<UdpSocket>(family, port);
}

std::unique_ptr<ProbeSocket> SystemNetwork::openPinger(const CaptureRequest& replies,
                                                       const PassLink& link) {
  auto socket = std::make_unique<RawSocket>(replies.family, replies.protocol);
  socket->acceptOnlyEchoReplies(replies);
  // Without a known interface the platform picks one, as for any ping.
  if (link.chosen) socket->bindToLink(link);
  return socket;
}

std::unique_ptr<ProbeSocket> SystemNetwork::openCapturing(const CaptureRequest& request,
                                                          const PassLink& link) {
  auto socket = std::make_unique<RawSocket>(request.family, request.protocol);
  if (request.destination && request.destination->address == allHostsGroup(request.family)) {
    socket->watchAllHosts(captures_, link, request);
    return socket;
  }
  socket->bindToLink(link);
  // MLD rides on ICMPv6 and needs the Router Alert on every message.
  if (request.family == Family::V6 && request.protocol == IPPROTO_ICMPV6) {
    socket->sendWithRouterAlert();
  }
  socket->captureLink(captures_, request);
  return socket;
}

void SystemNetwork::prepareCaptures(const PassLink& link) {
  if (link.chosen) captures_.prepare(*link.chosen);
}

void SystemNetwork::releaseCaptures() { captures_.release(); }

std::unique_ptr<ProbeSocket> SystemNetwork::openBeaconCapture(const CaptureRequest& request,
                                                              const PassLink& link) {
  return net::openBeaconCapture(request, link);
}

HostMulticastState SystemNetwork::hostState(const PassLink& link) {
  if (!link.chosen) return {};
  return readHostMulticastState(link.chosen->name, link.chosen->index);
}

bool SystemNetwork::hostHoldsGroup(const Address& group, const PassLink& link) {
  return net::hostHoldsGroup(group, link.chosen ? link.chosen->name : std::string());
}

std::optional<std::vector<std::string>> SystemNetwork::routeInterfaces(const Address& destination,
                                                                       const PassLink& link) {
  return routeInterfacesTo(destination, link.chosen ? &*link.chosen : nullptr);
}

void SystemNetwork::requireLinkUp(const PassLink& link, const char* operation) {
  if (link.chosen) requireInterfaceUp(*link.chosen, operation);
}

void SystemNetwork::pause(std::uint32_t milliseconds) { pauseMs(milliseconds); }

std::chrono::steady_clock::time_point SystemNetwork::now() {
  return std::chrono::steady_clock::now();
}

}  // namespace net
