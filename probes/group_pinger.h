// Pings a link-local multicast group once and records which hosts answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/network.h"

// The first echo reply of one host.
struct EchoReply {
  net::Address from;
  double roundTripMs = 0;
};

class GroupPinger {
 public:
  // On the pass's interface, replies from it alone; unbound when finding the
  // interface failed, so that the platform picks one as it would for any ping.
  GroupPinger(net::Network& network, net::Family family, const net::PassLink& link);

  // Sends one echo request to the group.
  void ping(const net::Address& group);
  // Records the sender of every echo reply to this process; with
  // StopListening, returns at the first one recorded.
  void receiveReplies(std::int32_t timeOutMs, net::AfterDatagram afterEachReply);

  // Each replying host once, in the order their first replies came, up to
  // kMaxEchoRepliersKept hosts.
  [[nodiscard]] const std::vector<EchoReply>& replies() const { return firstReplies_; }
  // Replies from hosts beyond that bound.
  [[nodiscard]] std::int64_t unlistedReplies() const { return unlistedReplies_; }
  // The identifier its requests carry, which the replies echo.
  [[nodiscard]] std::uint16_t identifier() const { return identifier_; }

 private:
  net::Network& network_;
  net::Family family_;
  // The interface a link-local IPv6 group is scoped to; 0 when unknown.
  unsigned int scope_;
  std::uint16_t identifier_;
  std::unique_ptr<net::ProbeSocket> socket_;
  std::uint16_t sequence_ = 0;
  std::vector<EchoReply> firstReplies_;
  std::int64_t unlistedReplies_ = 0;
  std::chrono::steady_clock::time_point sentAt_;
};
