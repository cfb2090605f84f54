// Speaks IGMP as a host on a raw socket bound to this host's interface, and
// watches the same interface for the queries a first-hop router answers with.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "net/socket.h"
#include "probes/igmp_messages.h"
#include "probes/igmp_query_details.h"

class IgmpProber : public net::RawSocket {
 public:
  // Captures IGMP from here on, so that no query is missed between sends.
  IgmpProber(const sockaddr_in& group, const net::PassLink& link);

  // Each returns the byte count that the send reports.
  int sendReportV2(const sockaddr_in& group);
  int sendLeaveV2(const sockaddr_in& group);
  int sendReportV3(const sockaddr_in& group, const sockaddr_in& source, std::uint8_t recordType);

  void joinGroup(const std::string& groupText);
  void leaveGroup(const std::string& groupText);

  // Records the kind of the last query seen; with keepListening false,
  // returns at the first Membership Query of any group.
  void receiveQueries(std::int32_t timeOutMs, bool keepListening);
  bool sawQuery(QueryKind kind) const { return lastQueryKind == kind; }

  struct SeenQuery {
    QueryDetails details;
    double sinceProbeMs = 0;
  };
  // Every Membership Query read, of any group, up to kMaxQueriesKept: a flood
  // of queries must not grow the record without bound.
  static constexpr std::size_t kMaxQueriesKept = 256;
  const std::vector<SeenQuery>& queries() const { return seenQueries; }

 private:
  sockaddr_in group;
  QueryKind lastQueryKind = QueryKind::None;
  std::chrono::steady_clock::time_point probeBegan;
  std::vector<SeenQuery> seenQueries;
};
