// Speaks IGMP as a host on a raw socket bound to this host's interface, and
// watches the same interface for the queries a first-hop router answers with.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "net/socket.h"
#include "probes/igmp_messages.h"
#include "probes/igmp_query_details.h"

class IgmpProber : public net::RawSocket {
 public:
  // Captures IGMP from here on, so that no query is missed between sends.
  IgmpProber(const in_addr& group, const net::PassLink& link);

  // Each returns the byte count that the send reports.
  int sendReportV2(const in_addr& group);
  int sendLeaveV2(const in_addr& group);
  int sendReportV3(const in_addr& group, const in_addr& source, std::uint8_t recordType);

  // Watches for queries; with keepListening false, returns at the first
  // Membership Query of any group.
  void receiveQueries(std::int32_t timeOutMs, bool keepListening);
  // A query for the prober's group, or a general one, was seen.
  bool sawQueryForGroup() const { return sawQueryForGroup_; }

  struct SeenQuery {
    QueryDetails details;
    double sinceProbeMs = 0;
  };
  // Every Membership Query read, of any group, up to kMaxQueriesKept: a flood
  // of queries must not grow the record without bound.
  static constexpr std::size_t kMaxQueriesKept = 256;
  const std::vector<SeenQuery>& queries() const { return seenQueries_; }

 private:
  in_addr group_;
  bool sawQueryForGroup_ = false;
  std::chrono::steady_clock::time_point probeBegan_;
  std::vector<SeenQuery> seenQueries_;
};
