// A UDP port that joins a multicast group as an ordinary receiving host and
// counts the distinct senders it hears.
#pragma once

#include <cstdint>
#include <string>

#include "net/socket.h"
#include "probes/address_tables.h"
#include "probes/membership.h"

class GroupReceiver : public net::UdpSocket {
 public:
  // Binds 0.0.0.0:port, without address reuse: a held port is an error.
  explicit GroupReceiver(std::uint16_t port);

  // Each on the interface holding `interfaceAddress`; 0.0.0.0: the platform's pick.
  void joinGroup(const std::string& group, const in_addr& interfaceAddress = kAnyInterface);
  void leaveGroup(const std::string& group, const in_addr& interfaceAddress = kAnyInterface);
  void joinSourceGroup(const std::string& group, const std::string& source,
                       const in_addr& interfaceAddress = kAnyInterface);
  void leaveSourceGroup(const std::string& group, const std::string& source,
                        const in_addr& interfaceAddress = kAnyInterface);

  // Keeps this socket's own multicast sends from looping back to the host.
  void setLoopback();
  void setTtl(std::int32_t ttl);
  int send(const std::uint8_t* data, int length, const sockaddr_in& destination);

  // Records the sender of every datagram until timeOutMs has passed, or
  // until the first one when keepListening is false.
  void receive(std::int32_t timeOutMs, bool keepListening);
  std::int32_t memberCount() const;
  const AddressCounts& memberTable() const { return members; }

 private:
  AddressCounts members;
};
