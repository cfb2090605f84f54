// A UDP port that joins a multicast group as an ordinary receiving host and
// counts the distinct senders it hears.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "net/network.h"

class GroupReceiver {
 public:
  // Binds the family's wildcard address on `port`, without address reuse: a
  // held port is an error.
  GroupReceiver(net::Network& network, net::Family family, std::uint16_t port);

  // Joins or leaves `group`, from `source` alone when one is given (a
  // source-specific channel), on the interface with `interfaceIndex`; 0
  // lets the platform pick it.
  void join(const net::Address& group, const std::optional<net::Address>& source,
            unsigned int interfaceIndex);
  void leave(const net::Address& group, const std::optional<net::Address>& source,
             unsigned int interfaceIndex);

  // Records the sender of every datagram until timeOutMs has passed, or
  // until the first one with StopListening.
  void receive(std::int32_t timeOutMs, net::AfterDatagram afterEachDatagram);
  // Datagrams heard from each member, a member being a distinct sender
  // address; the first kMaxBeaconMembersKept members heard, in address order.
  [[nodiscard]] const std::map<net::Address, std::int32_t>& members() const { return members_; }
  // Datagrams from senders heard once the member table was full.
  [[nodiscard]] std::int64_t unlistedDatagrams() const { return unlistedDatagrams_; }

 private:
  std::unique_ptr<net::ProbeSocket> socket_;
  std::map<net::Address, std::int32_t> members_;
  std::int64_t unlistedDatagrams_ = 0;
};
