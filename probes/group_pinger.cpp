#include "probes/group_pinger.h"

#include <algorithm>

#include "net/address.h"
#include "net/listen_loop.h"
#include "probes/icmp_echo.h"

GroupPinger::GroupPinger(const net::PassLink& link) : net::RawSocket(IPPROTO_ICMP) {
  acceptOnlyEchoReplies(echoIdentifier(net::processId()));
  if (link.chosen) bindToLink(link);
}

void GroupPinger::ping(const in_addr& group) {
  const auto request =
      echoRequest(echoIdentifier(net::processId()), static_cast<std::uint16_t>(sequence_ & 0xFFFF));
  ++sequence_;
  sentAt_ = std::chrono::steady_clock::now();
  sendTo(request, net::socketAddress(group));
}

void GroupPinger::receiveReplies(std::int32_t timeOutMs, bool keepListening) {
  const std::uint16_t identifier = echoIdentifier(net::processId());
  net::listenFor(
      *this, timeOutMs, [&](std::span<const std::uint8_t> datagram, const sockaddr_in& sender) {
        // Only a counted reply may end the wait.
        if (!isEchoReplyFor(datagram, identifier)) {
          return net::AfterDatagram::KeepListening;
        }
        const bool heardBefore =
            std::any_of(firstReplies_.begin(), firstReplies_.end(),
                        [&](const auto& r) { return r.from.s_addr == sender.sin_addr.s_addr; });
        if (!heardBefore) {
          const std::chrono::duration<double, std::milli> roundTrip =
              std::chrono::steady_clock::now() - sentAt_;
          firstReplies_.push_back(Reply{sender.sin_addr, roundTrip.count()});
        }
        return keepListening ? net::AfterDatagram::KeepListening
                             : net::AfterDatagram::StopListening;
      });
}
