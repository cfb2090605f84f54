#include "probes/group_receiver.h"

#include "probes/probe_limits.h"

GroupReceiver::GroupReceiver(net::Network& network, net::Family family, std::uint16_t port)
    : socket_(network.openReceiver(family, port)) {}

void GroupReceiver::join(const net::Address& group, const std::optional<net::Address>& source,
                         unsigned int interfaceIndex) {
  socket_->changeMembership(net::Membership::Join, group, source, interfaceIndex);
}

void GroupReceiver::leave(const net::Address& group, const std::optional<net::Address>& source,
                          unsigned int interfaceIndex) {
  socket_->changeMembership(net::Membership::Leave, group, source, interfaceIndex);
}

void GroupReceiver::receive(std::int32_t timeOutMs, net::AfterDatagram afterEachDatagram) {
  // Any datagram counts, whatever it holds: the sender is the evidence.
  socket_->listen(timeOutMs, [&](const net::ReceivedDatagram& datagram) {
    const auto member = members_.find(datagram.sender.address);
    if (member != members_.end()) {
      ++member->second;
    } else if (members_.size() < kMaxBeaconMembersKept) {
      members_.emplace(datagram.sender.address, 1);
    } else {
      ++unlistedDatagrams_;
    }
    return afterEachDatagram;
  });
}
