// A UDP port that joins a multicast group as an ordinary receiving host and
// counts the distinct senders it hears.
#pragma once

#include <cstdint>

#include "net/membership.h"
#include "net/socket.h"
#include "probes/address_tables.h"

class GroupReceiver : public net::UdpSocket {
 public:
  // Binds 0.0.0.0:port, without address reuse: a held port is an error.
  explicit GroupReceiver(std::uint16_t port);

  // Each on the interface holding `interfaceAddress`; 0.0.0.0: the platform's pick.
  void joinGroup(const in_addr& group, const in_addr& interfaceAddress = net::kAnyInterface);
  void leaveGroup(const in_addr& group, const in_addr& interfaceAddress = net::kAnyInterface);
  void joinSourceGroup(const in_addr& group, const in_addr& source,
                       const in_addr& interfaceAddress = net::kAnyInterface);
  void leaveSourceGroup(const in_addr& group, const in_addr& source,
                        const in_addr& interfaceAddress = net::kAnyInterface);

  // Records the sender of every datagram until timeOutMs has passed, or
  // until the first one when keepListening is false.
  void receive(std::int32_t timeOutMs, bool keepListening);
  std::int32_t memberCount() const;
  // Datagrams heard from each member, for the machine-read report.
  const AddressCounts& memberTable() const { return members_; }

 private:
  AddressCounts members_;
};
