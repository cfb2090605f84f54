#include "app/watch.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace watch {
namespace {

// Enough recent interarrival times for a median that a few late datagrams
// do not move.
constexpr std::size_t kIntervalsKept = 16;
constexpr std::size_t kReportsPerGroup = 8;
constexpr std::size_t kLinkChangesKept = 16;
// RFC 3376 8.2 and RFC 3810 9.2: a querier that says nothing queries every 125 s.
constexpr double kDefaultQueryInterval = 125;
// A querier counts as gone once its next general query is this late, in
// query intervals: a query or two may be lost on the wire without it.
constexpr double kQuerierOverdue = 1.5;
// Older Version Querier Present Timeout with the defaults (RFC 3376 8.12).
constexpr double kOlderQuerierTimeout = 260;
// How long after a query's maximum response time its report may still leave.
constexpr double kReportSlack = 1;
// How often open outages are assessed again as time passes.
constexpr double kReassessEveryS = 1;

std::string seconds(double value) {
  std::array<char, 32> text{};
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 1);
  return std::string(text.data(), result.ptr) + " s";
}

double median(std::deque<double> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

template <typename Item>
void keepLast(std::deque<Item>& items, Item item, std::size_t bound) {
  items.push_back(std::move(item));
  while (items.size() > bound) items.pop_front();
}

nlohmann::json optionalNumber(const std::optional<double>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

const char* causeName(Cause cause) {
  switch (cause) {
    case Cause::NoQuerier:
      return "no-querier";
    case Cause::QuerierLost:
      return "querier-lost";
    case Cause::OldVersionQuery:
      return "old-version-query";
    case Cause::HostNotReporting:
      return "host-not-reporting";
    case Cause::SourceStopped:
      return "source-stopped";
    case Cause::LinkDown:
      return "link-down";
    case Cause::Unknown:
      break;
  }
  return "unknown";
}

const char* queryKindName(QueryKind kind) {
  switch (kind) {
    case QueryKind::General:
      return "general";
    case QueryKind::Group:
      return "group";
    case QueryKind::GroupAndSource:
      break;
  }
  return "group-and-source";
}

std::optional<double> gapThreshold(const std::deque<double>& intervals) {
  if (intervals.empty()) return std::nullopt;
  return std::max(1.0, 5 * median(intervals));
}

LinkWatch::LinkWatch(const std::vector<Channel>& channels, net::Family family, Limits limits,
                     EventSink sink)
    : family_(family), limits_(limits), sink_(std::move(sink)) {
  for (const Channel& channel : channels) {
    ChannelState state;
    state.channel = channel;
    channels_.push_back(std::move(state));
  }
}

std::string LinkWatch::groupText(std::size_t channel) const {
  const Channel& watched = channels_.at(channel).channel;
  // The group first: a timeline is searched for it.
  return watched.source ? watched.group.toString() + " (source " + watched.source->toString() + ")"
                        : watched.group.toString();
}

void LinkWatch::emit(double t, std::string event, std::string text, nlohmann::json detail) {
  Event entry{t, std::move(event), std::move(text),
              detail.is_null() ? nlohmann::json::object() : std::move(detail)};
  ++eventCount_;
  if (sink_) sink_(entry);
  keepLast(events_, std::move(entry), limits_.events);
}

void LinkWatch::advance(double t) {
  now_ = std::max(now_, t);
  // What an open outage rests on may change as time passes: a querier
  // falls overdue.
  if (now_ >= nextReassessS_) {
    reassessOpenOutages();
    nextReassessS_ = now_ + kReassessEveryS;
  }
  for (ChannelState& state : channels_) {
    if (state.open || !state.lastS) continue;
    const auto threshold = gapThreshold(state.intervals);
    if (threshold && now_ - *state.lastS > *threshold)
      beginOutage(state, *state.lastS + *threshold);
  }
  for (auto neighbour = neighbours_.begin(); neighbour != neighbours_.end();) {
    const double expiry = neighbour->second.lastS + neighbour->second.holdtimeS;
    if (now_ <= expiry) {
      ++neighbour;
      continue;
    }
    emit(expiry, "pim-neighbour-expired",
         "PIM neighbour " + neighbour->first.toString() + " expired (no Hello in its holdtime)",
         {{"neighbour", neighbour->first.toString()}});
    neighbour = neighbours_.erase(neighbour);
  }
}

std::optional<double> LinkWatch::nextDeadline() const {
  std::optional<double> next;
  const auto consider = [&](double t) { next = next ? std::min(*next, t) : t; };
  for (const ChannelState& state : channels_) {
    const auto threshold = gapThreshold(state.intervals);
    if (!state.open && state.lastS && threshold) consider(*state.lastS + *threshold);
  }
  for (const auto& [address, neighbour] : neighbours_)
    consider(neighbour.lastS + neighbour.holdtimeS);
  return next;
}

void LinkWatch::datagram(std::size_t channel, const net::Address& sender, int ttl, double t) {
  advance(t);
  t = now_;
  ChannelState& state = channels_.at(channel);
  if (state.open) {
    endOutage(state, t);
  } else if (state.lastS) {
    keepLast(state.intervals, t - *state.lastS, kIntervalsKept);
  }
  if (state.datagrams == 0) {
    emit(t, "first-datagram",
         "first datagram of " + groupText(channel) + " from " + sender.toString() + ", TTL " +
             std::to_string(ttl),
         {{"group", state.channel.group.toString()}, {"sender", sender.toString()}, {"ttl", ttl}});
  }
  ++state.datagrams;
  state.lastS = t;
  const auto known = std::find_if(state.senders.begin(), state.senders.end(),
                                  [&](const Sender& each) { return each.address == sender; });
  if (known != state.senders.end()) {
    ++known->datagrams;
    known->ttl = ttl;
    known->lastS = t;
  } else if (state.senders.size() < limits_.senders) {
    if (!state.senders.empty()) {
      emit(t, "new-sender", groupText(channel) + ": another sender, " + sender.toString(),
           {{"group", state.channel.group.toString()}, {"sender", sender.toString()}});
    }
    state.senders.push_back(Sender{sender, 1, ttl, t, t});
  } else {
    ++state.otherSenders;
  }
}

void LinkWatch::query(const Query& heard) {
  advance(heard.t);
  Query query = heard;
  query.t = now_;
  ++queryCount_;
  keepLast(queries_, query, limits_.queries);
  if (!firstQueryS_) firstQueryS_ = query.t;
  lastQueryS_ = query.t;
  lastQuery_ = query;
  if (olderVersion(query.version)) lastOlderQuery_ = query;

  auto querier = std::find_if(queriers_.begin(), queriers_.end(),
                              [&](const Querier& each) { return each.source == query.source; });
  const bool isNew = querier == queriers_.end();
  if (isNew && queriers_.size() < limits_.queriers) {
    queriers_.push_back(Querier{query.source, query.version, 0, query.t, query.t, {}, {}});
    querier = queriers_.end() - 1;
  }
  const bool versionChanged =
      !isNew && querier != queriers_.end() && querier->version != query.version;
  if (querier != queriers_.end()) {
    ++querier->queries;
    querier->version = query.version;
    querier->lastS = query.t;
    if (query.kind == QueryKind::General) {
      if (querier->lastGeneralS) {
        keepLast(querier->intervals, query.t - *querier->lastGeneralS, kIntervalsKept);
      }
      querier->lastGeneralS = query.t;
    }
  }
  const std::string protocol = family_ == net::Family::V4 ? "IGMPv" : "MLDv";
  std::string text = std::string(queryKindName(query.kind)) + " query from " +
                     query.source.toString() + ", " + protocol + std::to_string(query.version);
  if (query.group) text += " for " + query.group->toString();
  nlohmann::json detail{{"source", query.source.toString()},
                        {"version", query.version},
                        {"kind", queryKindName(query.kind)}};
  if (isNew && querier != queriers_.end()) {
    emit(query.t, "querier-heard", "querier " + query.source.toString() + " heard: " + text,
         detail);
  } else if (versionChanged) {
    emit(query.t, "querier-version",
         "querier " + query.source.toString() + " now sends " + protocol +
             std::to_string(query.version) + " queries",
         detail);
  } else if (query.kind != QueryKind::General && !isNew) {
    emit(query.t, "query", text, detail);
  }
  reassessOpenOutages();
}

void LinkWatch::reassessOpenOutages() {
  for (ChannelState& state : channels_) {
    if (!state.open) continue;
    nlohmann::json evidence;
    const Cause cause = assess(state, state.open->beganS, now_, evidence);
    evidence["threshold_s"] = state.open->evidence["threshold_s"];
    state.open->evidence = std::move(evidence);
    if (cause == state.open->cause) continue;
    --byCause_.at(static_cast<std::size_t>(state.open->cause));
    ++byCause_.at(static_cast<std::size_t>(cause));
    const auto index = static_cast<std::size_t>(&state - channels_.data());
    emit(now_, "outage-cause",
         "outage of " + groupText(index) + ": " + causeName(cause) + " now, not " +
             causeName(state.open->cause),
         {{"group", state.channel.group.toString()},
          {"cause", causeName(cause)},
          {"was", causeName(state.open->cause)}});
    state.open->cause = cause;
  }
}

void LinkWatch::report(const Report& sent) {
  advance(sent.t);
  Report report = sent;
  report.t = now_;
  keepLast(reports_, report, limits_.reports);
  for (ChannelState& state : channels_) {
    if (state.channel.group == report.group && report.kind == ReportKind::Report) {
      keepLast(state.reports, report.t, kReportsPerGroup);
    }
  }
  if (olderVersion(report.version) && report.kind == ReportKind::Report) {
    lastOlderReportS_ = report.t;
  }
  if (ownReportVersion_ && *ownReportVersion_ != report.version &&
      report.kind == ReportKind::Report) {
    emit(report.t, "host-report-version",
         "the host's reports are now version " + std::to_string(report.version) + " (were " +
             std::to_string(*ownReportVersion_) + ")",
         {{"version", report.version}, {"was", *ownReportVersion_}});
  }
  if (report.kind == ReportKind::Report) ownReportVersion_ = report.version;
  if (report.kind == ReportKind::Leave) {
    emit(report.t, "leave", "the host left " + report.group.toString(),
         {{"group", report.group.toString()}, {"version", report.version}});
  }
}

void LinkWatch::hello(const Hello& heard) {
  advance(heard.t);
  const double t = now_;
  const std::string name = heard.source.toString();
  const auto known = neighbours_.find(heard.source);
  if (heard.holdtimeS == 0) {
    if (known != neighbours_.end()) {
      neighbours_.erase(known);
      emit(t, "pim-neighbour-down", "PIM neighbour " + name + " said goodbye (holdtime 0)",
           {{"neighbour", name}});
    }
    return;
  }
  nlohmann::json detail{{"neighbour", name}, {"holdtime_s", heard.holdtimeS}};
  if (heard.generationId) detail["generation_id"] = *heard.generationId;
  if (known == neighbours_.end()) {
    if (neighbours_.size() >= limits_.neighbours) return;
    neighbours_[heard.source] = Neighbour{heard.generationId, heard.holdtimeS, t};
    emit(t, "pim-neighbour-up",
         "PIM neighbour " + name + " up, holdtime " + std::to_string(heard.holdtimeS) + " s",
         detail);
    return;
  }
  if (heard.generationId && known->second.generationId &&
      *heard.generationId != *known->second.generationId) {
    emit(t, "pim-neighbour-restarted", "PIM neighbour " + name + " restarted (new Generation ID)",
         detail);
  }
  known->second = Neighbour{heard.generationId, heard.holdtimeS, t};
}

void LinkWatch::link(bool up, double t) {
  advance(t);
  if (up == linkUp_) return;
  linkUp_ = up;
  keepLast(linkChanges_, std::pair{now_, up}, kLinkChangesKept);
  emit(now_, up ? "link-up" : "link-down",
       up ? "the interface is back: joined again" : "the interface went down or away");
}

bool LinkWatch::linkUpAt(double t) const {
  bool up = true;
  for (const auto& [when, state] : linkChanges_) {
    if (when > t) break;
    up = state;
  }
  return up;
}

double LinkWatch::expectedQueryInterval() const {
  std::deque<double> measured;
  for (const Querier& querier : queriers_) {
    measured.insert(measured.end(), querier.intervals.begin(), querier.intervals.end());
  }
  if (!measured.empty()) return median(measured);
  if (lastQuery_ && lastQuery_->intervalS) return *lastQuery_->intervalS;
  return kDefaultQueryInterval;
}

bool LinkWatch::olderVersion(int version) const {
  return version < (family_ == net::Family::V4 ? 3 : 2);
}

void LinkWatch::beginOutage(ChannelState& state, double detectedS) {
  const auto index = static_cast<std::size_t>(&state - channels_.data());
  Outage outage{index, *state.lastS, std::nullopt, Cause::Unknown, {}};
  state.reportBeforeOutage.reset();
  for (const double t : state.reports) {
    if (t <= outage.beganS) state.reportBeforeOutage = t;
  }
  outage.cause = assess(state, outage.beganS, now_, outage.evidence);
  outage.evidence["threshold_s"] = detectedS - outage.beganS;
  ++byCause_.at(static_cast<std::size_t>(outage.cause));
  emit(detectedS, "outage-began",
       "outage of " + groupText(index) + ": no datagram since " + seconds(outage.beganS) +
           " (threshold " + seconds(detectedS - outage.beganS) + "), " + causeName(outage.cause) +
           " so far",
       {{"group", state.channel.group.toString()},
        {"began_s", outage.beganS},
        {"cause", causeName(outage.cause)}});
  state.open = std::move(outage);
}

void LinkWatch::endOutage(ChannelState& state, double t) {
  Outage outage = std::move(*state.open);
  state.open.reset();
  outage.endedS = t;
  // The evidence as it stands now: a querier's return, or its silence, is known.
  const nlohmann::json threshold = outage.evidence["threshold_s"];
  nlohmann::json evidence;
  const Cause cause = assess(state, outage.beganS, t, evidence);
  --byCause_.at(static_cast<std::size_t>(outage.cause));
  ++byCause_.at(static_cast<std::size_t>(cause));
  outage.cause = cause;
  outage.evidence = std::move(evidence);
  outage.evidence["threshold_s"] = threshold;
  emit(t, "outage-ended",
       "outage of " + groupText(outage.channel) + " ended after " + seconds(t - outage.beganS) +
           ": " + causeName(outage.cause),
       {{"group", state.channel.group.toString()},
        {"began_s", outage.beganS},
        {"ended_s", t},
        {"cause", causeName(outage.cause)}});
  ++endedCount_;
  keepLast(ended_, std::move(outage), limits_.outages);
}

Cause LinkWatch::assess(const ChannelState& state, double beganS, double now,
                        nlohmann::json& evidence) const {
  evidence = nlohmann::json::object();
  evidence["last_datagram_s"] = beganS;
  const auto threshold = gapThreshold(state.intervals);
  // The link went down before the datagrams could have been missed.
  const double missedBy = beganS + threshold.value_or(1.0);
  for (const auto& [when, up] : linkChanges_) {
    if (!up && when >= beganS && when <= missedBy) {
      evidence["link_down_s"] = when;
      return Cause::LinkDown;
    }
  }
  if (!linkUpAt(beganS)) {
    evidence["link_down"] = true;
    return Cause::LinkDown;
  }
  if (!linkVisible_) {
    evidence["link_visible"] = false;
    return Cause::Unknown;
  }
  // The evidence as it stood when the datagrams stopped: an outage is
  // judged again as time passes, and what came after it began (the host's
  // next report, the old querier's next query) is no cause of it.
  std::optional<double> lastReport;
  for (const double t : state.reports) {
    if (t <= beganS) lastReport = t;
  }
  if (!lastReport && state.reportBeforeOutage && *state.reportBeforeOutage <= beganS) {
    lastReport = state.reportBeforeOutage;
  }
  evidence["last_report_s"] = optionalNumber(lastReport);

  std::optional<Query> older;
  for (const Query& query : queries_) {
    if (olderVersion(query.version) && query.t <= missedBy) older = query;
  }
  // The history may have dropped it; the newest is kept apart.
  if (!older && lastOlderQuery_ && lastOlderQuery_->t <= missedBy) older = lastOlderQuery_;
  if (state.channel.source && older && beganS - older->t <= kOlderQuerierTimeout) {
    evidence["older_query_s"] = older->t;
    evidence["querier"] = older->source.toString();
    evidence["version"] = older->version;
    evidence["host_fell_back"] = lastOlderReportS_ && *lastOlderReportS_ >= older->t;
    return Cause::OldVersionQuery;
  }

  if (!firstQueryS_ || *firstQueryS_ > beganS) {
    evidence["queries_before"] = 0;
    // How long a switch kept forwarding after the host's last report: its
    // aging time, measured.
    if (lastReport) evidence["aging_s"] = beganS - *lastReport;
    return Cause::NoQuerier;
  }

  // The last query before the outage and the one after it, if any came.
  std::optional<Query> before;
  std::optional<Query> after;
  std::optional<Query> lastAsking;
  for (const Query& query : queries_) {
    const bool general = query.kind == QueryKind::General;
    const bool asks = general || (query.group && *query.group == state.channel.group);
    if (query.t <= beganS) {
      if (general) before = query;
      if (asks && query.t + query.maxResponseS + kReportSlack <= beganS) lastAsking = query;
    } else if (general && !after) {
      after = query;
    }
  }
  if (lastAsking) {
    const double window = lastAsking->t + lastAsking->maxResponseS + kReportSlack;
    const bool answered = std::any_of(state.reports.begin(), state.reports.end(),
                                      [&](double t) { return t >= lastAsking->t && t <= window; });
    if (!answered) {
      evidence["unanswered_query_s"] = lastAsking->t;
      evidence["max_response_s"] = lastAsking->maxResponseS;
      return Cause::HostNotReporting;
    }
  }
  const double interval = expectedQueryInterval();
  evidence["query_interval_s"] = interval;
  if (before) {
    evidence["last_query_s"] = before->t;
    evidence["querier"] = before->source.toString();
    evidence["next_query_s"] = after ? nlohmann::json(after->t) : nlohmann::json(nullptr);
    // The querier's silence around the outage: until its next general
    // query, or until now while none came. A snooping switch may stop
    // forwarding as soon as its querier goes, well before a query is due.
    const double silence = (after ? after->t : now) - before->t;
    if (silence > kQuerierOverdue * interval) {
      evidence["silence_s"] = silence;
      return Cause::QuerierLost;
    }
  }
  bool othersFlowing = false;
  for (const ChannelState& other : channels_) {
    if (&other != &state && other.lastS && *other.lastS > beganS) othersFlowing = true;
  }
  evidence["other_groups_flowing"] = othersFlowing;
  // The querier was on time and the host answered it: the membership stood.
  if (before) return Cause::SourceStopped;
  return Cause::Unknown;
}

std::vector<Outage> LinkWatch::outages() const {
  std::vector<Outage> all(ended_.begin(), ended_.end());
  for (const ChannelState& state : channels_) {
    if (state.open) all.push_back(*state.open);
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const Outage& a, const Outage& b) { return a.beganS < b.beganS; });
  return all;
}

std::uint64_t LinkWatch::outageCount() const {
  std::uint64_t count = endedCount_;
  for (const ChannelState& state : channels_) count += state.open ? 1U : 0U;
  return count;
}

}  // namespace watch
