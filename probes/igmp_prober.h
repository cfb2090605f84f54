// Speaks IGMP as a host on a raw socket bound to the pass's interface, and
// watches the same interface for the queries a first-hop router answers with.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/network.h"
#include "probes/igmp_messages.h"

// A Membership Query as the prober saw it.
struct ObservedQuery {
  MembershipQuery query;
  // From the moment the capture began.
  double sinceProbeMs = 0;
};

class IgmpProber {
 public:
  // Captures IGMP from here on, so that no query is missed between sends.
  // `group` is the one whose queries count as the router's answer.
  IgmpProber(net::Network& network, const net::Address& group, const net::PassLink& link);

  void sendReportV2(const net::Address& group);
  void sendLeaveV2(const net::Address& group);
  void sendReportV3(const net::Address& group, const net::Address& source, std::uint8_t recordType);

  // Watches for Membership Queries of any group; with StopListening, returns
  // at the first one.
  void receiveQueries(std::int32_t timeOutMs, net::AfterDatagram afterEachQuery);
  // A query for the prober's group, or a general one, was seen.
  [[nodiscard]] bool sawQueryForGroup() const { return sawQueryForGroup_; }

  // Every Membership Query read, of any group, up to kMaxKeptPerTest.
  [[nodiscard]] const std::vector<ObservedQuery>& queries() const { return seenQueries_; }

 private:
  // Taken before the capture opens: a capture stamps a query with the
  // kernel's arrival time, which may precede the capture's opening's end.
  std::chrono::steady_clock::time_point probeBegan_;
  std::unique_ptr<net::ProbeSocket> socket_;
  net::Address group_;
  bool sawQueryForGroup_ = false;
  std::vector<ObservedQuery> seenQueries_;
};
