#include "probes/group_receiver.h"

#include "net/listen_loop.h"

GroupReceiver::GroupReceiver(std::uint16_t port)
    : net::UdpSocket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port) {}

void GroupReceiver::joinGroup(const in_addr& group, const in_addr& interfaceAddress) {
  net::changeMembership(*this, net::Membership::Join, group, interfaceAddress);
}

void GroupReceiver::leaveGroup(const in_addr& group, const in_addr& interfaceAddress) {
  net::changeMembership(*this, net::Membership::Leave, group, interfaceAddress);
}

void GroupReceiver::joinSourceGroup(const in_addr& group, const in_addr& source,
                                    const in_addr& interfaceAddress) {
  net::changeSourceMembership(*this, net::Membership::Join, group, source, interfaceAddress);
}

void GroupReceiver::leaveSourceGroup(const in_addr& group, const in_addr& source,
                                     const in_addr& interfaceAddress) {
  net::changeSourceMembership(*this, net::Membership::Leave, group, source, interfaceAddress);
}

void GroupReceiver::receive(std::int32_t timeOutMs, bool keepListening) {
  // Any datagram counts, whatever it holds: the sender is the evidence.
  net::listenFor(*this, timeOutMs,
                 [&](std::span<const std::uint8_t> /*datagram*/, const sockaddr_in& sender) {
                   countSender(members_, sender);
                   return keepListening ? net::AfterDatagram::KeepListening
                                        : net::AfterDatagram::StopListening;
                 });
}

std::int32_t GroupReceiver::memberCount() const {
  return static_cast<std::int32_t>(members_.size());
}
