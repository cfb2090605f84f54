#include "app/prometheus_output.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "app/battery.h"
#include "app/link_facts.h"
#include "app/microseconds.h"
#include "app/number_text.h"
#include "net/file_replace.h"

#ifndef CORVANITE_VERSION
#error "the build defines CORVANITE_VERSION"
#endif

namespace {

using Label = std::pair<std::string_view, std::string>;
using Labels = std::vector<Label>;

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  unsigned int lowest = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0U) == 0xC0U) {
    length = 2;
    lowest = 0x80;
  } else if ((lead & 0xF0U) == 0xE0U) {
    length = 3;
    lowest = 0x800;
  } else if ((lead & 0xF8U) == 0xF0U) {
    length = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  unsigned int code = lead & (0x7FU >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0U) != 0x80U) return 0;
    code = (code << 6U) | (next & 0x3FU);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

// Backslash, double quote and line feed are the three characters a label
// value must escape; bytes that are not UTF-8 (an odd interface name) become
// U+FFFD, since one invalid value makes Prometheus refuse the whole scrape.
void appendEscaped(std::string& out, std::string_view value) {
  while (!value.empty()) {
    const std::size_t length = utf8SequenceLength(value);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      value.remove_prefix(1);
      continue;
    }
    switch (value[0]) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out.append(value.substr(0, length));
    }
    value.remove_prefix(length);
  }
}

// One metric family: its HELP and TYPE lines, then at most kMaxSeriesPerFamily
// samples. A family with no sample is left out whole.
class Family {
 public:
  Family(std::string_view name, std::string_view help) : name_(name), help_(help) {}

  void add(const Labels& labels, double value) {
    if (count_ == kMaxSeriesPerFamily) return;
    ++count_;
    samples_ += name_;
    if (!labels.empty()) {
      samples_ += '{';
      for (std::size_t i = 0; i < labels.size(); ++i) {
        if (i > 0) samples_ += ',';
        samples_ += labels[i].first;
        samples_ += "=\"";
        appendEscaped(samples_, labels[i].second);
        samples_ += '"';
      }
      samples_ += '}';
    }
    samples_ += ' ';
    appendShortestNumber(samples_, value);
    samples_ += '\n';
  }

  void appendTo(std::string& out) const {
    if (count_ == 0) return;
    out += "# HELP ";
    out += name_;
    out += ' ';
    out += help_;
    out += "\n# TYPE ";
    out += name_;
    out += " gauge\n";
    out += samples_;
  }

 private:
  std::string_view name_;
  std::string_view help_;
  std::string samples_;
  std::size_t count_ = 0;
};

const char* familyText(net::Family family) { return family == net::Family::V4 ? "ipv4" : "ipv6"; }

double seconds(std::uint32_t milliseconds) { return static_cast<double>(milliseconds) / 1000.0; }

// Round trips are measured to the microsecond; more digits would be noise.
double roundTripSeconds(double milliseconds) {
  return static_cast<double>(wholeMicroseconds(milliseconds)) / 1e6;
}

// The labels every series of a family's battery carries: the interface, which tells
// the files of one host's instances apart, and the family, which tells the IPv4 and
// IPv6 batteries of one pass apart.
class PassLabels {
 public:
  explicit PassLabels(const PassFindings& findings)
      : interface_(findings.chosenInterface.name.value_or("")),
        family_(familyText(findings.family)) {}

  [[nodiscard]] Labels with(Labels more) const {
    Labels labels{{"interface", interface_}};
    const bool hasFamily = std::any_of(more.begin(), more.end(),
                                       [](const Label& label) { return label.first == "family"; });
    if (!hasFamily) labels.emplace_back("family", family_);
    for (Label& label : more) labels.push_back(std::move(label));
    return labels;
  }

  // For the series of the whole pass, whatever families it ran.
  [[nodiscard]] Labels interfaceOnly(Labels more) const {
    Labels labels{{"interface", interface_}};
    for (Label& label : more) labels.push_back(std::move(label));
    return labels;
  }

 private:
  std::string interface_;
  std::string family_;
};

using Passes = std::span<const BatteryReport>;

Labels testLabels(const TestRecord& record, net::Family family) {
  const BatteryTest& test = batteryTest(record.id, family);
  return {{"number", std::to_string(test.number)},
          {"family", familyText(test.family)},
          {"test", test.name}};
}

void addTests(Passes passes, std::string& out) {
  Family success("corvanite_test_success",
                 "1 when the test found what it looks for in the last pass, else 0.");
  Family error("corvanite_test_error",
               "1 when a socket call on this host ended the test in the last pass, else 0.");
  Family duration("corvanite_test_duration_seconds", "How long the test took in the last pass.");
  for (const BatteryReport& battery : passes) {
    const PassFindings& findings = battery.findings;
    const PassLabels pass(findings);
    for (const TestRecord& record : findings.tests) {
      if (!record.ran) continue;
      const Labels labels = pass.with(testLabels(record, findings.family));
      success.add(labels, record.outcome == TestOutcome::Succeeded ? 1 : 0);
      error.add(labels, record.outcome == TestOutcome::Error ? 1 : 0);
      duration.add(labels, seconds(record.durationMs));
    }
  }
  success.appendTo(out);
  error.appendTo(out);
  duration.appendTo(out);
}

void addRouterPings(Passes passes, std::string& out) {
  Family roundTrip("corvanite_router_ping_round_trip_seconds",
                   "Round trip of each router's first echo reply to a ping of a link-local "
                   "router group in the last pass.");
  for (const BatteryReport& battery : passes) {
    const PassFindings& findings = battery.findings;
    const PassLabels pass(findings);
    for (const TestRecord& record : findings.tests) {
      if (!record.ran) continue;
      const auto* ping = std::get_if<PingDetails>(&record.details);
      if (ping == nullptr) continue;
      for (const EchoReply& reply : ping->replies) {
        roundTrip.add(
            pass.with({{"group", ping->group.toString()}, {"router", reply.from.toString()}}),
            roundTripSeconds(reply.roundTripMs));
      }
    }
  }
  roundTrip.appendTo(out);
}

void addBeacons(Passes passes, std::string& out) {
  Family members("corvanite_beacon_members",
                 "Distinct senders heard on the beacon's group and port in the last pass.");
  Family datagrams("corvanite_beacon_datagrams",
                   "Datagrams received from the beacon's senders in the last pass.");
  // Present only when a flood of senders filled the member table.
  Family unlisted("corvanite_beacon_unlisted_member_datagrams",
                  "Datagrams from senders beyond the member table's bound in the last pass.");
  for (const BatteryReport& battery : passes) {
    const PassFindings& findings = battery.findings;
    const PassLabels pass(findings);
    for (const TestRecord& record : findings.tests) {
      if (!record.ran) continue;
      const auto* beacon = std::get_if<BeaconDetails>(&record.details);
      if (beacon == nullptr) continue;
      double received = 0;
      for (const BeaconMember& member : beacon->members) received += member.datagrams;
      const Labels labels =
          pass.with({{"test", batteryTest(record.id, findings.family).name},
                     {"group", beacon->group.toString()},
                     {"port", std::to_string(beacon->port)},
                     {"source", beacon->source ? beacon->source->toString() : ""}});
      members.add(labels, static_cast<double>(beacon->members.size()));
      datagrams.add(labels, received);
      if (beacon->unlistedMemberDatagrams > 0) {
        unlisted.add(labels, static_cast<double>(beacon->unlistedMemberDatagrams));
      }
    }
  }
  members.appendTo(out);
  datagrams.appendTo(out);
  unlisted.appendTo(out);
}

void addConclusions(Passes passes, std::string& out) {
  // Every rule of the family, held or not, so that an alert sees a conclusion go to 0.
  Family family("corvanite_conclusion",
                "1 when the report's conclusion held in the last pass, else 0.");
  for (const BatteryReport& battery : passes) {
    const PassFindings& findings = battery.findings;
    const PassLabels pass(findings);
    std::set<std::string_view> held;
    for (const HeldConclusion& conclusion : battery.conclusions) {
      held.insert(conclusion.rule->id);
    }
    for (const Conclusion& rule : conclusions()) {
      if (rule.family != findings.family) continue;
      family.add(pass.with({{"id", std::string(rule.id)}}), held.count(rule.id) > 0 ? 1 : 0);
    }
  }
  family.appendTo(out);
}

void addQuerier(Passes passes, std::string& out) {
  Family info("corvanite_igmp_querier_info",
              "The link's IGMP querier (MLD for IPv6) in the last pass and the highest version "
              "of its queries; always 1, absent when no query was seen.");
  Family robustness("corvanite_igmp_querier_robustness",
                    "The querier's Robustness Variable (QRV) from its IGMPv3 or MLDv2 queries.");
  Family interval("corvanite_igmp_querier_query_interval_seconds",
                  "The querier's Query Interval from its IGMPv3 or MLDv2 queries (QQIC).");
  Family membership("corvanite_igmp_querier_membership_interval_seconds",
                    "How long a group lives without a report: robustness times query interval "
                    "plus the query response interval (RFC 3376 8.4, RFC 3810 9.4).");
  for (const BatteryReport& battery : passes) {
    const PassFindings& findings = battery.findings;
    const PassLabels pass(findings);
    const auto querier = querierOf(findings);
    if (!querier) continue;
    info.add(pass.with({{"address", querier->address.toString()},
                        {"version", std::to_string(querier->version)}}),
             1);
    if (querier->robustness) robustness.add(pass.with({}), *querier->robustness);
    if (querier->queryIntervalSeconds) interval.add(pass.with({}), *querier->queryIntervalSeconds);
    if (querier->membershipIntervalMs) {
      membership.add(pass.with({}), static_cast<double>(*querier->membershipIntervalMs) / 1000.0);
    }
  }
  info.appendTo(out);
  robustness.appendTo(out);
  interval.appendTo(out);
  membership.appendTo(out);
}

void addPimNeighbours(Passes passes, std::string& out) {
  Family neighbours("corvanite_pim_neighbours",
                    "PIM routers whose Hellos the last pass heard on the link.");
  Family info("corvanite_pim_designated_router_info",
              "The link's PIM designated router by RFC 7761 4.3.2, and its DR priority where "
              "every neighbour sent one; always 1, absent without Hellos.");
  Family unlisted("corvanite_pim_unlisted_hellos",
                  "Hellos from senders beyond the neighbour table's bound in the last pass.");
  for (const BatteryReport& battery : passes) {
    const PassFindings& findings = battery.findings;
    // Without a clean test 8, no count: 0 would claim the routers went away.
    if (!findings.ranCleanly(TestId::PimHello)) continue;
    const PassLabels pass(findings);
    const auto dr = designatedRouterOf(findings);
    neighbours.add(pass.with({}), dr ? static_cast<double>(dr->neighbours.size()) : 0);
    if (dr) {
      info.add(pass.with({{"address", dr->address.toString()},
                          {"priority", dr->priority ? std::to_string(*dr->priority) : ""}}),
               1);
    }
    const auto& pim = findings.details<PimDetails>(TestId::PimHello);
    if (pim.unlistedHellos > 0) {
      unlisted.add(pass.with({}), static_cast<double>(pim.unlistedHellos));
    }
  }
  neighbours.appendTo(out);
  info.appendTo(out);
  unlisted.appendTo(out);
}

void addDiagnosis(Passes passes, std::string& out) {
  Family family("corvanite_diagnosis_finding",
                "A finding of the last pass's diagnosis, by id and severity; always 1, absent "
                "when it was not found.");
  for (const BatteryReport& battery : passes) {
    const PassLabels pass(battery.findings);
    for (const Finding& finding : battery.diagnosis) {
      family.add(pass.with({{"id", std::string(findingName(finding.id))},
                            {"severity", severityName(finding.severity)}}),
                 1);
    }
  }
  family.appendTo(out);
}

}  // namespace

std::string prometheusText(const PassReport& report) {
  const PassTiming& timing = report.timing;
  const Passes passes = report.batteries;
  std::string out;
  if (passes.empty()) return out;
  out.reserve(8192 * passes.size());
  const PassLabels first(passes.front().findings);

  Family build("corvanite_build_info", "The tool's version; always 1.");
  build.add(first.interfaceOnly({{"version", CORVANITE_VERSION}}), 1);
  build.appendTo(out);

  Family interface("corvanite_pass_interface_info",
                   "The link the last pass tested, and how it was chosen; always 1.");
  for (const BatteryReport& battery : passes) {
    const InterfaceSummary& chosen = battery.findings.chosenInterface;
    interface.add(PassLabels(battery.findings)
                      .with({{"address", chosen.address.value_or("")},
                             {"chosen_by", chosen.chosenBy.value_or("")}}),
                  1);
  }
  interface.appendTo(out);

  const auto sinceEpoch =
      std::chrono::duration_cast<std::chrono::milliseconds>(timing.start.time_since_epoch());
  Family start("corvanite_pass_start_timestamp_seconds",
               "When the last pass began, in seconds since the Unix epoch.");
  start.add(first.interfaceOnly({}), static_cast<double>(sinceEpoch.count()) / 1000.0);
  start.appendTo(out);
  Family duration("corvanite_pass_duration_seconds", "How long the last pass took.");
  duration.add(first.interfaceOnly({}), seconds(timing.durationMs));
  duration.appendTo(out);

  addTests(passes, out);
  addRouterPings(passes, out);
  addBeacons(passes, out);
  addQuerier(passes, out);
  addPimNeighbours(passes, out);
  addConclusions(passes, out);
  addDiagnosis(passes, out);
  return out;
}

PrometheusOutput::PrometheusOutput(std::string path, std::ostream& errors)
    : path_(std::move(path)), errors_(errors) {}

void PrometheusOutput::passComplete(const PassReport& report) {
  const std::string text = prometheusText(report);
  const auto failure = net::replaceFileWhole(path_, text);
  if (!failure) return;
  writeFailed_ = true;
  errors_ << "corvanite: cannot write the metrics to " << path_ << ": " << failure->step << ": "
          << failure->message << " (error " << failure->code << ")" << std::endl;
}
