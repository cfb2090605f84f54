// A watch of the link over time: what it heard, second by second, and each
// outage of a watched group with the cause its evidence points to. Pure
// logic: the receiver feeds it timestamped observations (seconds since the
// watch began) and renderers read what it kept. Histories are bounded, so a
// watch of days holds no more than one of minutes: the last entries of each
// kind, and counters for the rest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "net/address.h"

namespace watch {

enum class Cause {
  NoQuerier,
  QuerierLost,
  OldVersionQuery,
  HostNotReporting,
  SourceStopped,
  LinkDown,
  Unknown
};
inline constexpr std::size_t kCauseCount = 7;
const char* causeName(Cause cause);

// One watched beacon: an any-source group, or a channel when `source` is set.
struct Channel {
  net::Address group;
  std::optional<net::Address> source;
  std::uint16_t port = 0;
};

enum class QueryKind { General, Group, GroupAndSource };
const char* queryKindName(QueryKind kind);

// A Membership Query heard on the link.
struct Query {
  double t = 0;
  net::Address source;
  // IGMP 1 to 3, MLD 1 or 2.
  int version = 0;
  QueryKind kind = QueryKind::General;
  std::optional<net::Address> group;
  double maxResponseS = 0;
  // Told by IGMPv3 and MLDv2 queries only.
  std::optional<int> intervalS;
  std::optional<int> robustness;
};

enum class ReportKind { Report, Leave };

// One group record of the host's own outgoing report or leave.
struct Report {
  double t = 0;
  ReportKind kind = ReportKind::Report;
  int version = 0;
  net::Address group;
};

// A PIM Hello heard on the link.
struct Hello {
  double t = 0;
  net::Address source;
  std::uint16_t holdtimeS = 105;
  std::optional<std::uint32_t> generationId;
};

struct Event {
  double t = 0;
  // A short word scripts can match: "outage-began", "query", ...
  std::string event;
  // The timeline's line after its time.
  std::string text;
  // The event's facts, for the JSON.
  nlohmann::json detail = nlohmann::json::object();
};

struct Outage {
  std::size_t channel = 0;
  double beganS = 0;
  std::optional<double> endedS;
  Cause cause = Cause::Unknown;
  nlohmann::json evidence = nlohmann::json::object();
};

struct Sender {
  net::Address address;
  std::uint64_t datagrams = 0;
  int ttl = 0;
  double firstS = 0;
  double lastS = 0;
};

// What one watched beacon did.
struct ChannelState {
  Channel channel;
  std::uint64_t datagrams = 0;
  std::vector<Sender> senders;
  // Datagrams of senders beyond the bound, counted only.
  std::uint64_t otherSenders = 0;
  std::optional<double> lastS;
  // The last interarrival times, the gap rule's base.
  std::deque<double> intervals;
  std::optional<Outage> open;
  // The host's last reports for the group.
  std::deque<double> reports;
  // The last of them before the open outage began, kept apart: an outage
  // that lasts outlives the reports above.
  std::optional<double> reportBeforeOutage;
};

struct Querier {
  net::Address source;
  int version = 0;
  std::uint64_t queries = 0;
  double firstS = 0;
  double lastS = 0;
  std::optional<double> lastGeneralS;
  // Between its general queries, the last few.
  std::deque<double> intervals;
};

struct Neighbour {
  std::optional<std::uint32_t> generationId;
  std::uint16_t holdtimeS = 0;
  double lastS = 0;
};

struct Limits {
  std::size_t events = 1000;
  std::size_t queries = 256;
  std::size_t reports = 256;
  std::size_t outages = 256;
  std::size_t senders = 32;
  std::size_t queriers = 16;
  std::size_t neighbours = 32;
};

// The gap rule: a group's outage begins when no datagram came for longer
// than this after its last, 5 times the median of its recent interarrival
// times and at least 1 s; nothing before its first interval is known.
std::optional<double> gapThreshold(const std::deque<double>& intervals);

class LinkWatch {
 public:
  using EventSink = std::function<void(const Event&)>;

  LinkWatch(const std::vector<Channel>& channels, net::Family family, Limits limits = {},
            EventSink sink = {});

  // Whether the link's queries and the host's own reports can be seen at
  // all; without, no cause but link-down is claimed.
  void setLinkVisible(bool visible) { linkVisible_ = visible; }

  // Each observation first brings the watch's time up to `t` (see advance).
  void datagram(std::size_t channel, const net::Address& sender, int ttl, double t);
  void query(const Query& query);
  void report(const Report& report);
  void hello(const Hello& hello);
  void link(bool up, double t);
  // Time passes: outages begin as their gaps pass the threshold, PIM
  // neighbours expire. Times never go back: an earlier `t` counts as now.
  void advance(double t);
  // The next time advance has something to do, if any: a poll loop sleeps
  // until then and no longer.
  [[nodiscard]] std::optional<double> nextDeadline() const;

  [[nodiscard]] const std::vector<ChannelState>& channels() const { return channels_; }
  [[nodiscard]] const std::deque<Event>& events() const { return events_; }
  [[nodiscard]] std::uint64_t eventCount() const { return eventCount_; }
  [[nodiscard]] const std::deque<Query>& queries() const { return queries_; }
  [[nodiscard]] std::uint64_t queryCount() const { return queryCount_; }
  [[nodiscard]] const std::deque<Report>& reports() const { return reports_; }
  [[nodiscard]] const std::vector<Querier>& queriers() const { return queriers_; }
  [[nodiscard]] const std::map<net::Address, Neighbour>& neighbours() const { return neighbours_; }
  // The ended outages kept, then the open ones, by start.
  [[nodiscard]] std::vector<Outage> outages() const;
  [[nodiscard]] std::uint64_t outageCount() const;
  [[nodiscard]] const std::array<std::uint64_t, kCauseCount>& outagesByCause() const {
    return byCause_;
  }
  [[nodiscard]] std::optional<double> lastQueryS() const { return lastQueryS_; }
  [[nodiscard]] const std::optional<Query>& lastQuery() const { return lastQuery_; }
  [[nodiscard]] net::Family family() const { return family_; }
  [[nodiscard]] double now() const { return now_; }
  // GROUP, or GROUP (source SOURCE) for a channel.
  [[nodiscard]] std::string groupText(std::size_t channel) const;

 private:
  void emit(double t, std::string event, std::string text, nlohmann::json detail = {});
  void beginOutage(ChannelState& state, double detectedS);
  void endOutage(ChannelState& state, double t);
  void reassessOpenOutages();
  [[nodiscard]] Cause assess(const ChannelState& state, double beganS, double now,
                             nlohmann::json& evidence) const;
  [[nodiscard]] bool linkUpAt(double t) const;
  [[nodiscard]] double expectedQueryInterval() const;
  [[nodiscard]] bool olderVersion(int version) const;

  std::vector<ChannelState> channels_;
  net::Family family_;
  Limits limits_;
  EventSink sink_;
  bool linkVisible_ = true;
  double now_ = 0;
  double nextReassessS_ = 0;

  std::deque<Event> events_;
  std::uint64_t eventCount_ = 0;
  std::deque<Query> queries_;
  std::uint64_t queryCount_ = 0;
  std::optional<double> firstQueryS_;
  std::optional<double> lastQueryS_;
  std::optional<Query> lastQuery_;
  std::optional<Query> lastOlderQuery_;
  std::vector<Querier> queriers_;
  std::deque<Report> reports_;
  std::optional<int> ownReportVersion_;
  std::optional<double> lastOlderReportS_;
  std::map<net::Address, Neighbour> neighbours_;
  std::deque<Outage> ended_;
  std::uint64_t endedCount_ = 0;
  std::array<std::uint64_t, kCauseCount> byCause_{};
  bool linkUp_ = true;
  // When the link went down and came back, the last few.
  std::deque<std::pair<double, bool>> linkChanges_;
};

}  // namespace watch
