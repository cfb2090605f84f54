#include "probes/group_pinger.h"

#include <algorithm>

#include "net/process.h"
#include "probes/icmp_echo.h"
#include "probes/probe_limits.h"

GroupPinger::GroupPinger(net::Network& network, net::Family family, const net::PassLink& link)
    : network_(network),
      family_(family),
      scope_(link.chosen ? link.chosen->index : 0U),
      identifier_(echoIdentifier(net::processId())),
      socket_(network.openPinger(echoReplyCapture(family, identifier_), link)) {}

void GroupPinger::ping(const net::Address& group) {
  const auto request = family_ == net::Family::V4 ? echoRequest(identifier_, sequence_)
                                                  : echoRequestV6(identifier_, sequence_);
  ++sequence_;
  sentAt_ = network_.now();
  const net::Address to = group.isV4() ? group : group.withScope(scope_);
  socket_->sendTo(request, net::Endpoint{to, 0});
}

void GroupPinger::receiveReplies(std::int32_t timeOutMs, net::AfterDatagram afterEachReply) {
  socket_->listen(timeOutMs, [&](const net::ReceivedDatagram& datagram) {
    // Only a counted reply may end the wait.
    const auto from = echoReplySender(datagram.bytes, identifier_);
    if (!from || from->family() != family_) return net::AfterDatagram::KeepListening;
    const bool heardBefore = std::any_of(firstReplies_.begin(), firstReplies_.end(),
                                         [&](const EchoReply& r) { return r.from == *from; });
    if (!heardBefore && firstReplies_.size() == kMaxEchoRepliersKept) {
      ++unlistedReplies_;
    } else if (!heardBefore) {
      const std::chrono::duration<double, std::milli> roundTrip = datagram.arrival - sentAt_;
      firstReplies_.push_back(EchoReply{*from, roundTrip.count()});
    }
    return afterEachReply;
  });
}
