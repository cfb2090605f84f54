#include "probes/group_receiver.h"

#include "net/listen_loop.h"
#include "probes/membership.h"

GroupReceiver::GroupReceiver(std::uint16_t port)
    : net::UdpSocket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port) {}

void GroupReceiver::joinGroup(const std::string& group, const in_addr& interfaceAddress) {
  requestMembership(*this, IP_ADD_MEMBERSHIP, group, interfaceAddress);
}

void GroupReceiver::leaveGroup(const std::string& group, const in_addr& interfaceAddress) {
  requestMembership(*this, IP_DROP_MEMBERSHIP, group, interfaceAddress);
}

void GroupReceiver::joinSourceGroup(const std::string& group, const std::string& source,
                                    const in_addr& interfaceAddress) {
  requestSourceMembership(*this, IP_ADD_SOURCE_MEMBERSHIP, group, source, interfaceAddress);
}

void GroupReceiver::leaveSourceGroup(const std::string& group, const std::string& source,
                                     const in_addr& interfaceAddress) {
  requestSourceMembership(*this, IP_DROP_SOURCE_MEMBERSHIP, group, source, interfaceAddress);
}

void GroupReceiver::setLoopback() {
  const std::uint8_t off = 0;
  setOption(IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off);
}

void GroupReceiver::setTtl(std::int32_t ttl) {
  setOption(IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
}

int GroupReceiver::send(const std::uint8_t* data, int length, const sockaddr_in& destination) {
  return sendTo({data, static_cast<std::size_t>(length)}, destination);
}

void GroupReceiver::receive(std::int32_t timeOutMs, bool keepListening) {
  // Any datagram counts, whatever it holds: the sender is the evidence.
  net::listenFor(*this, timeOutMs,
                 [&](std::span<const std::uint8_t> /*datagram*/, const sockaddr_in& sender) {
                   countSender(members, sender);
                   return keepListening ? net::AfterDatagram::KeepListening
                                        : net::AfterDatagram::StopListening;
                 });
}

std::int32_t GroupReceiver::memberCount() const {
  return static_cast<std::int32_t>(members.size());
}
