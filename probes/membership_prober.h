// Speaks group membership as a host (IGMP on IPv4, MLD on IPv6) on a raw
// socket bound to the pass's interface, and watches the same interface for
// the queries a first-hop router answers with.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "net/network.h"
#include "probes/igmp_messages.h"

// A Membership Query as the prober saw it.
struct ObservedQuery {
  MembershipQuery query;
  // From the moment the capture began.
  double sinceProbeMs = 0;
};

// How a host speaks group membership in one family.
struct MembershipProtocol {
  net::Family family;
  // IGMPv2's report and leave, or MLDv1's report and done.
  std::vector<std::uint8_t> (*anySourceReport)(const net::Address& group);
  std::vector<std::uint8_t> (*anySourceLeave)(const net::Address& group);
  // IGMPv3's or MLDv2's report with one record of one source.
  std::vector<std::uint8_t> (*sourceReport)(const net::Address& group, const net::Address& source,
                                            std::uint8_t recordType);
  // Where a leave goes (all routers), and a source report (the routers of
  // the newest version).
  net::Address leaveDestination;
  net::Address sourceReportDestination;
  std::optional<MembershipQuery> (*readQuery)(std::span<const std::uint8_t> datagram);
  // What the capture keeps in the kernel (Network::openCapturing's request).
  net::CaptureRequest (*captureRequest)();
  // The version whose queries serve source-specific joins: IGMPv3, MLDv2.
  int sourceVersion;
};

const MembershipProtocol& membershipProtocol(net::Family family);

// The record types of a source report, the same in IGMPv3 and MLDv2.
inline constexpr std::uint8_t kAllowNewSources = 5;
inline constexpr std::uint8_t kBlockOldSources = 6;

// What a watch of the link's general queries asks the platform for: the
// family's queries sent to every host (224.0.0.1, ff02::1), which this host
// receives without capturing the link on platforms that deliver them.
net::CaptureRequest generalQueryCapture(net::Family family);

// Watches the pass's interface for general queries (of any querier, in any
// version) from its opening on, while the tests run; read between them.
class GeneralQueryWatch {
 public:
  // Throws as Network::openCapturing.
  GeneralQueryWatch(net::Network& network, net::Family family, const net::PassLink& link);

  // Takes in what arrived up to now, without waiting.
  void collect();
  // In the order seen, up to kMaxQueriesKept, sinceProbeMs counting from the
  // watch's opening; group-specific queries and corrupt ones are left out.
  [[nodiscard]] const std::vector<ObservedQuery>& queries() const { return queries_; }
  [[nodiscard]] std::int64_t unlistedQueries() const { return unlisted_; }
  // How long it has watched.
  [[nodiscard]] std::chrono::milliseconds watched() const;

 private:
  net::Network& network_;
  const MembershipProtocol& protocol_;
  std::chrono::steady_clock::time_point began_;
  std::unique_ptr<net::ProbeSocket> socket_;
  std::vector<ObservedQuery> queries_;
  std::int64_t unlisted_ = 0;
};

class MembershipProber {
 public:
  // Captures the family's membership messages from here on, so that no query
  // is missed between sends. `group` is the one whose queries count as the
  // router's answer, when of `lowestVersion` or above.
  MembershipProber(net::Network& network, net::Family family, const net::Address& group,
                   int lowestVersion, const net::PassLink& link);

  // To the group, and its leave to all routers. From the report on, the
  // leave is owed: a signal that ends the process sends it.
  void sendAnySourceReport(const net::Address& group);
  void sendAnySourceLeave(const net::Address& group);
  // One record of one source, to the routers of the newest version; after
  // an ALLOW the BLOCK is owed as the leave is.
  void sendSourceReport(const net::Address& group, const net::Address& source,
                        std::uint8_t recordType);
  // The host holds the group through another socket: nothing is owed, and
  // from now on no report makes a leave or BLOCK owed.
  void withholdLeave();

  // Watches for Membership Queries of any group; with StopListening, returns
  // at the first one.
  void receiveQueries(std::int32_t timeOutMs, net::AfterDatagram afterEachQuery);
  // A query for the prober's group, or a general one, of the version asked
  // for, was seen.
  [[nodiscard]] bool sawQueryForGroup() const { return sawQueryForGroup_; }

  // Every Membership Query read, of any group, up to kMaxQueriesKept.
  [[nodiscard]] const std::vector<ObservedQuery>& queries() const { return seenQueries_; }
  // Queries read beyond that bound.
  [[nodiscard]] std::int64_t unlistedQueries() const { return unlistedQueries_; }
  // Queries whose checksum failed: neither kept nor counted as an answer.
  [[nodiscard]] std::int64_t corruptQueries() const { return corruptQueries_; }

 private:
  void send(std::span<const std::uint8_t> message, const net::Address& destination);
  void owe(std::span<const std::uint8_t> message, const net::Address& destination);
  [[nodiscard]] net::Endpoint destinationOf(const net::Address& address) const;

  const MembershipProtocol& protocol_;
  // Taken before the capture opens: a capture stamps a query with the
  // kernel's arrival time, which may precede the capture's opening's end.
  std::chrono::steady_clock::time_point probeBegan_;
  std::unique_ptr<net::ProbeSocket> socket_;
  net::Address group_;
  int lowestVersion_;
  // The interface link-local destinations are scoped to; 0 when unknown.
  unsigned int scope_;
  bool sawQueryForGroup_ = false;
  bool leaveWithheld_ = false;
  std::vector<ObservedQuery> seenQueries_;
  std::int64_t unlistedQueries_ = 0;
  std::int64_t corruptQueries_ = 0;
};
