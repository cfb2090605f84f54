// Pings a link-local multicast group once and records which hosts answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "net/socket.h"

class GroupPinger : public net::RawSocket {
 public:
  // On the pass's interface, replies from it alone; unbound when finding the
  // interface failed, so that the platform picks one as it would for any ping.
  explicit GroupPinger(const net::PassLink& link);

  // Sends one echo request to the group.
  void ping(const in_addr& group);
  // Records the sender of every echo reply to this process; with
  // keepListening false, returns at the first one recorded.
  void receiveReplies(std::int32_t timeOutMs, bool keepListening);
  bool hasReplies() const { return !firstReplies_.empty(); }

  struct Reply {
    in_addr from{};
    double roundTripMs = 0;
  };
  // Each replying host once, in the order their first replies came.
  const std::vector<Reply>& replies() const { return firstReplies_; }

 private:
  std::int32_t sequence_ = 0;
  std::vector<Reply> firstReplies_;
  std::chrono::steady_clock::time_point sentAt_;
};
