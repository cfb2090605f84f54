#include "probes/group_pinger.h"

#include "net/address.h"
#include "net/listen_loop.h"
#include "probes/icmp_echo.h"

namespace {
std::uint16_t echoIdentifier() { return static_cast<std::uint16_t>(net::processId() & 0xFFFFU); }
}  // namespace

GroupPinger::GroupPinger(const net::PassLink& link) : RawSocket(IPPROTO_ICMP) {
  acceptOnlyEchoReplies(echoIdentifier());
  if (link.chosen) bindToLink(link);
}

void GroupPinger::ping(const std::string& group) {
  const sockaddr_in destination = net::socketAddress(group);
  if (destination.sin_addr.s_addr == INADDR_NONE) return;
  const auto request = echoRequest(echoIdentifier(), static_cast<std::uint16_t>(sequence & 0xFFFF));
  ++sequence;
  sentAt = std::chrono::steady_clock::now();
  sendTo(request.data(), static_cast<int>(request.size()), destination);
}

void GroupPinger::receiveReplies(std::int32_t timeOutMs, bool keepListening) {
  const std::uint16_t identifier = echoIdentifier();
  net::listenFor(*this, timeOutMs,
                 [&](std::span<const std::uint8_t> datagram, const sockaddr_in& sender) {
                   // Only a counted reply may end the wait.
                   if (!isEchoReplyFor(datagram, identifier)) {
                     return net::AfterDatagram::KeepListening;
                   }
                   if (responders.find(net::addressText(sender.sin_addr)) == responders.end()) {
                     const std::chrono::duration<double, std::milli> roundTrip =
                         std::chrono::steady_clock::now() - sentAt;
                     firstReplies.push_back(Reply{sender.sin_addr, roundTrip.count()});
                   }
                   countSender(responders, sender);
                   return keepListening ? net::AfterDatagram::KeepListening
                                        : net::AfterDatagram::StopListening;
                 });
}
