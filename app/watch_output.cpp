#include "app/watch_output.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "app/number_text.h"

namespace watch {
namespace {

std::string fixed(double value, int precision = 1) {
  std::array<char, 32> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                    std::chars_format::fixed, precision);
  return std::string(text.data(), result.ptr);
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string protocolOf(const LinkWatch& watch) {
  return watch.family() == net::Family::V4 ? "IGMPv" : "MLDv";
}

nlohmann::json optionalText(const std::optional<net::Address>& address) {
  return address ? nlohmann::json(address->toString()) : nlohmann::json(nullptr);
}

double medianOf(std::deque<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string median(const std::deque<double>& values) { return fixed(medianOf(values)); }

// A label value as the text format quotes it.
std::string label(const std::string& value) {
  std::string quoted;
  for (const char c : value) {
    if (c == '\\' || c == '"') quoted += '\\';
    if (c == '\n') {
      quoted += "\\n";
      continue;
    }
    quoted += c;
  }
  return quoted;
}

std::string groupLabels(const Channel& channel) {
  return "group=\"" + label(channel.group.toString()) + "\",source=\"" +
         label(channel.source ? channel.source->toString() : "") + "\"";
}

void family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void sample(std::string& out, const std::string& name, double value) {
  out += name + " ";
  appendShortestNumber(out, value);
  out += "\n";
}

}  // namespace

std::string timelineLine(const Event& event) {
  return "[" + padded(fixed(event.t), 7) + " s] " + event.text;
}

std::string statusLine(const LinkWatch& watch, const WatchFacts& facts) {
  std::string line = padded(fixed(facts.elapsedS, 0), 5) + " s";
  line += facts.plannedS ? " of " + fixed(*facts.plannedS, 0) + " s" : "";
  for (std::size_t at = 0; at < watch.channels().size(); ++at) {
    const ChannelState& state = watch.channels()[at];
    line += " | " + state.channel.group.toString() + " " + std::to_string(state.datagrams);
    if (state.open) line += " OUT";
  }
  line += " | last query ";
  line += watch.lastQueryS() ? fixed(facts.elapsedS - *watch.lastQueryS(), 0) + " s ago" : "none";
  line += " | outages " + std::to_string(watch.outageCount());
  return line;
}

std::string summaryText(const LinkWatch& watch, const WatchFacts& facts) {
  std::string out = "Watched " + std::to_string(watch.channels().size()) + " beacons on " +
                    facts.interfaceName + " for " + fixed(facts.elapsedS) + " s.\n";
  for (std::size_t at = 0; at < watch.channels().size(); ++at) {
    const ChannelState& state = watch.channels()[at];
    out += "  " + watch.groupText(at) + " port " + std::to_string(state.channel.port) + ": " +
           std::to_string(state.datagrams) + " datagrams";
    for (const Sender& sender : state.senders) {
      out += ", " + std::to_string(sender.datagrams) + " from " + sender.address.toString() +
             " (TTL " + std::to_string(sender.ttl) + ")";
    }
    if (state.otherSenders > 0) {
      out += ", " + std::to_string(state.otherSenders) + " from further senders";
    }
    out += "\n";
  }
  const std::vector<Outage> outages = watch.outages();
  out += "Outages: " + std::to_string(watch.outageCount());
  if (watch.outageCount() > outages.size()) {
    out += " (the last " + std::to_string(outages.size()) + " below)";
  }
  out += "\n";
  for (const Outage& outage : outages) {
    out += "  " + watch.groupText(outage.channel) + ": from " + fixed(outage.beganS) + " s";
    out += outage.endedS ? " to " + fixed(*outage.endedS) + " s (" +
                               fixed(*outage.endedS - outage.beganS) + " s)"
                         : ", still out at the end";
    out += ", " + std::string(causeName(outage.cause)) + "\n";
  }
  out += "Queries: " + std::to_string(watch.queryCount()) + "\n";
  for (const Querier& querier : watch.queriers()) {
    out += "  querier " + querier.source.toString() + ": " + protocolOf(watch) +
           std::to_string(querier.version) + ", " + std::to_string(querier.queries) +
           " queries, last at " + fixed(querier.lastS) + " s";
    if (!querier.intervals.empty()) {
      out += ", general queries every " + median(querier.intervals) + " s (measured)";
    }
    out += "\n";
  }
  out += "PIM neighbours at the end: " + std::to_string(watch.neighbours().size()) + "\n";
  for (const auto& [address, neighbour] : watch.neighbours()) {
    out += "  " + address.toString() + ", holdtime " + std::to_string(neighbour.holdtimeS) +
           " s, last Hello at " + fixed(neighbour.lastS) + " s\n";
  }
  return out;
}

namespace {

// A query interval's worth of watching (the default, RFC 3376 8.2) with no
// query at all is a link without a querier, outage or not.
constexpr double kFullQueryIntervalS = 125;

WatchFinding causeFinding(const LinkWatch& watch, Cause cause, const Outage& first,
                          std::uint64_t count) {
  const std::string group = watch.groupText(first.channel);
  const std::string times = std::to_string(count) + (count == 1 ? " outage" : " outages");
  const nlohmann::json& evidence = first.evidence;
  const auto at = [&](const char* key) {
    return evidence.contains(key) && evidence[key].is_number() ? fixed(evidence[key].get<double>())
                                                               : std::string("?");
  };
  WatchFinding finding{causeName(cause), "problem", "", "", evidence};
  finding.evidence["outages"] = count;
  finding.evidence["group"] = watch.channels().at(first.channel).channel.group.toString();
  switch (cause) {
    case Cause::NoQuerier:
      finding.summary = times + " with no querier on the link: " + group + " stopped at " +
                        fixed(first.beganS) + " s, " + at("aging_s") +
                        " s after the host's last report, and no query had been heard. A "
                        "snooping switch ages a port out of a group that nobody queries.";
      finding.fix = "Enable an IGMP/MLD querier on this link: the router's, or the switch's own.";
      break;
    case Cause::QuerierLost:
      finding.summary = times + " after the querier fell silent: " + group + " stopped at " +
                        fixed(first.beganS) + " s; the last query came at " + at("last_query_s") +
                        " s, and queries were due every " + at("query_interval_s") + " s.";
      finding.fix = "Find why the querier stopped (its router or switch, or a filter between).";
      break;
    case Cause::OldVersionQuery:
      finding.summary = times + " after an older-version query: " + group + " stopped at " +
                        fixed(first.beganS) + " s; a version " +
                        (evidence.contains("version") ? evidence["version"].dump() : "?") +
                        " query came at " + at("older_query_s") +
                        " s, and a host in the older mode cannot ask for a source.";
      finding.fix = "Make every querier on the link send IGMPv3 (MLDv2) queries.";
      break;
    case Cause::HostNotReporting:
      finding.summary = times + " while this host did not answer queries: the query at " +
                        at("unanswered_query_s") + " s got no report for " + group + ".";
      finding.fix = "Check the host's firewall and its IGMP/MLD settings for outgoing reports.";
      break;
    case Cause::SourceStopped:
      finding.summary = times + " upstream of this link: " + group + " stopped at " +
                        fixed(first.beganS) +
                        " s while the querier kept querying and the host kept reporting.";
      finding.fix = "Look at the source and the routers between it and this link.";
      break;
    case Cause::LinkDown:
      finding.summary = times + " while the interface was down or away.";
      finding.fix = "Check the interface, its cable or its virtual link.";
      break;
    case Cause::Unknown:
      finding.summary = times + " whose cause the evidence does not tell (" + group + " at " +
                        fixed(first.beganS) + " s).";
      finding.fix = "Watch with the capture (CAP_NET_RAW), or longer.";
      break;
  }
  return finding;
}

}  // namespace

std::vector<WatchFinding> watchDiagnosis(const LinkWatch& watch, const WatchFacts& facts) {
  std::vector<WatchFinding> findings;
  const std::vector<Outage> outages = watch.outages();
  for (std::size_t cause = 0; cause < kCauseCount; ++cause) {
    const auto first = std::find_if(outages.begin(), outages.end(), [&](const Outage& outage) {
      return static_cast<std::size_t>(outage.cause) == cause;
    });
    if (first == outages.end()) continue;
    findings.push_back(
        causeFinding(watch, static_cast<Cause>(cause), *first, watch.outagesByCause().at(cause)));
  }
  const bool noQuerierFound = std::any_of(
      findings.begin(), findings.end(), [](const WatchFinding& f) { return f.id == "no-querier"; });
  if (watch.queryCount() == 0 && facts.elapsedS >= kFullQueryIntervalS && !noQuerierFound) {
    findings.push_back({"no-querier",
                        "problem",
                        "No query was heard in " + fixed(facts.elapsedS) +
                            " s of watching, longer than a query interval: nothing refreshes "
                            "the host's memberships in a snooping switch.",
                        "Enable an IGMP/MLD querier on this link: the router's, or the switch's "
                        "own.",
                        {{"watched_s", facts.elapsedS}, {"queries", 0}}});
  }
  for (const Querier& querier : watch.queriers()) {
    std::string summary = "Querier " + querier.source.toString() + " sent " +
                          std::to_string(querier.queries) + " " + protocolOf(watch) +
                          std::to_string(querier.version) + " queries";
    nlohmann::json evidence{{"querier", querier.source.toString()},
                            {"version", querier.version},
                            {"queries", querier.queries}};
    if (!querier.intervals.empty()) {
      summary += ", general queries every " + median(querier.intervals) + " s";
      evidence["interval_s"] = medianOf(querier.intervals);
    }
    findings.push_back({"querier", "info", summary + ".", "", evidence});
  }
  return findings;
}

std::string diagnosisText(const std::vector<WatchFinding>& findings) {
  std::string out = "Diagnosis:\n";
  if (findings.empty()) out += "  Nothing to say: no outage, and no query needed yet.\n";
  for (const WatchFinding& finding : findings) {
    out += "  " + std::string(finding.severity == "problem" ? "Problem" : "Info") + " (" +
           finding.id + "): " + finding.summary + "\n";
    if (!finding.fix.empty()) out += "    Fix: " + finding.fix + "\n";
  }
  return out;
}

nlohmann::json watchJson(const LinkWatch& watch, const WatchFacts& facts) {
  nlohmann::json groups = nlohmann::json::array();
  for (const ChannelState& state : watch.channels()) {
    nlohmann::json senders = nlohmann::json::array();
    for (const Sender& sender : state.senders) {
      senders.push_back({{"address", sender.address.toString()},
                         {"datagrams", sender.datagrams},
                         {"ttl", sender.ttl},
                         {"first_s", sender.firstS},
                         {"last_s", sender.lastS}});
    }
    groups.push_back({{"group", state.channel.group.toString()},
                      {"source", optionalText(state.channel.source)},
                      {"port", state.channel.port},
                      {"datagrams", state.datagrams},
                      {"senders", senders}});
  }
  nlohmann::json outages = nlohmann::json::array();
  for (const Outage& outage : watch.outages()) {
    const Channel& channel = watch.channels().at(outage.channel).channel;
    outages.push_back(
        {{"group", channel.group.toString()},
         {"source", optionalText(channel.source)},
         {"began_s", outage.beganS},
         {"ended_s", outage.endedS ? nlohmann::json(*outage.endedS) : nlohmann::json(nullptr)},
         {"cause", causeName(outage.cause)},
         {"evidence", outage.evidence}});
  }
  nlohmann::json queries = nlohmann::json::array();
  for (const Query& query : watch.queries()) {
    queries.push_back({{"t_s", query.t},
                       {"source", query.source.toString()},
                       {"version", query.version},
                       {"kind", queryKindName(query.kind)},
                       {"group", optionalText(query.group)},
                       {"max_resp_s", query.maxResponseS},
                       {"interval_s", query.intervalS ? nlohmann::json(*query.intervalS)
                                                      : nlohmann::json(nullptr)},
                       {"robustness", query.robustness ? nlohmann::json(*query.robustness)
                                                       : nlohmann::json(nullptr)}});
  }
  nlohmann::json reports = nlohmann::json::array();
  for (const Report& report : watch.reports()) {
    reports.push_back({{"t_s", report.t},
                       {"kind", report.kind == ReportKind::Report ? "report" : "leave"},
                       {"version", report.version},
                       {"group", report.group.toString()}});
  }
  nlohmann::json events = nlohmann::json::array();
  for (const Event& event : watch.events()) {
    nlohmann::json entry = event.detail;
    entry["t_s"] = event.t;
    entry["event"] = event.event;
    entry["text"] = event.text;
    events.push_back(std::move(entry));
  }
  nlohmann::json body{{"duration_s", facts.elapsedS},
                      {"family", watch.family() == net::Family::V4 ? "ipv4" : "ipv6"},
                      {"interface", facts.interfaceName},
                      {"groups", groups},
                      {"outages", outages},
                      {"outage_count", watch.outageCount()},
                      {"queries", queries},
                      {"query_count", watch.queryCount()},
                      {"reports", reports},
                      {"events", events},
                      {"event_count", watch.eventCount()}};
  nlohmann::json diagnosis = nlohmann::json::array();
  for (const WatchFinding& finding : watchDiagnosis(watch, facts)) {
    diagnosis.push_back({{"id", finding.id},
                         {"severity", finding.severity},
                         {"summary", finding.summary},
                         {"fix", finding.fix},
                         {"evidence", finding.evidence}});
  }
  return {{"watch", body}, {"diagnosis", diagnosis}};
}

std::string watchMetrics(const LinkWatch& watch, const WatchFacts& facts) {
  std::string out;
  family(out, "corvanite_watch_elapsed_seconds", "gauge", "How long the watch has run.");
  sample(out, "corvanite_watch_elapsed_seconds", facts.elapsedS);
  family(out, "corvanite_watch_datagrams_total", "counter",
         "Datagrams received of each watched group.");
  for (const ChannelState& state : watch.channels()) {
    sample(out, "corvanite_watch_datagrams_total{" + groupLabels(state.channel) + "}",
           static_cast<double>(state.datagrams));
  }
  family(out, "corvanite_watch_last_datagram_age_seconds", "gauge",
         "Time since the last datagram of each watched group that sent any.");
  for (const ChannelState& state : watch.channels()) {
    if (!state.lastS) continue;
    sample(out, "corvanite_watch_last_datagram_age_seconds{" + groupLabels(state.channel) + "}",
           facts.elapsedS - *state.lastS);
  }
  family(out, "corvanite_watch_in_outage", "gauge", "1 while a watched group is in an outage.");
  for (const ChannelState& state : watch.channels()) {
    sample(out, "corvanite_watch_in_outage{" + groupLabels(state.channel) + "}",
           state.open ? 1 : 0);
  }
  family(out, "corvanite_watch_outages_total", "counter",
         "Outages of the watched groups by cause.");
  for (std::size_t cause = 0; cause < kCauseCount; ++cause) {
    sample(out,
           std::string("corvanite_watch_outages_total{cause=\"") +
               causeName(static_cast<Cause>(cause)) + "\"}",
           static_cast<double>(watch.outagesByCause().at(cause)));
  }
  family(out, "corvanite_watch_queries_total", "counter", "Membership queries heard on the link.");
  sample(out, "corvanite_watch_queries_total", static_cast<double>(watch.queryCount()));
  if (watch.lastQuery()) {
    family(out, "corvanite_watch_last_query_age_seconds", "gauge",
           "Time since the last membership query heard on the link.");
    sample(out, "corvanite_watch_last_query_age_seconds", facts.elapsedS - watch.lastQuery()->t);
    family(out, "corvanite_watch_querier_info", "gauge", "The querier last heard and its version.");
    sample(out,
           "corvanite_watch_querier_info{querier=\"" + label(watch.lastQuery()->source.toString()) +
               "\",version=\"" + std::to_string(watch.lastQuery()->version) + "\"}",
           1);
  }
  family(out, "corvanite_watch_pim_neighbours", "gauge", "PIM neighbours whose holdtime runs.");
  sample(out, "corvanite_watch_pim_neighbours", static_cast<double>(watch.neighbours().size()));
  return out;
}

}  // namespace watch
