#include "app/pass_json.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/battery.h"
#include "app/finding_json.h"
#include "app/microseconds.h"
#include "app/test_headers.h"

#ifndef CORVANITE_VERSION
#error "the build defines CORVANITE_VERSION"
#endif

namespace {

// Keys keep the order they are written in, which reads better than sorted.
using json = nlohmann::ordered_json;

template <typename T>
json orNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

const char* outcomeName(TestOutcome outcome) {
  switch (outcome) {
    case TestOutcome::Succeeded:
      return "succeeded";
    case TestOutcome::Failed:
      return "failed";
    case TestOutcome::Error:
      break;
  }
  return "error";
}

// Round-trip and elapsed times in milliseconds to the microsecond.
double toMicroseconds(double ms) { return static_cast<double>(wholeMicroseconds(ms)) / 1000.0; }

json addressTexts(const std::vector<net::Address>& addresses) {
  json texts = json::array();
  for (const net::Address& address : addresses) texts.push_back(address.toString());
  return texts;
}

void addDetails(json& test, const BeaconDetails& beacon) {
  test["group"] = beacon.group.toString();
  test["port"] = beacon.port;
  test["source"] = beacon.source ? json(beacon.source->toString()) : json(nullptr);
  json members = json::array();
  for (const BeaconMember& member : beacon.members) {
    members.push_back({{"address", member.address.toString()}, {"datagrams", member.datagrams}});
  }
  test["members"] = members;
  // Only under a flood: a quiet link's output stays as it was.
  if (beacon.unlistedMemberDatagrams > 0) {
    test["unlisted_member_datagrams"] = beacon.unlistedMemberDatagrams;
  }
}

void addDetails(json& test, const PingDetails& ping) {
  test["group"] = ping.group.toString();
  json replies = json::array();
  for (const EchoReply& reply : ping.replies) {
    replies.push_back(
        {{"address", reply.from.toString()}, {"round_trip_ms", toMicroseconds(reply.roundTripMs)}});
  }
  test["replies"] = replies;
  if (ping.unlistedReplies > 0) test["unlisted_replies"] = ping.unlistedReplies;
}

json queriesJson(const std::vector<ObservedQuery>& observed) {
  json queries = json::array();
  for (const ObservedQuery& seen : observed) {
    const MembershipQuery& query = seen.query;
    queries.push_back({{"sender", query.sender.toString()},
                       {"destination", query.destination.toString()},
                       {"version", query.version},
                       {"group", query.group.toString()},
                       {"max_response_ms", query.maxResponseMs},
                       {"since_probe_ms", toMicroseconds(seen.sinceProbeMs)},
                       {"robustness", orNull(query.robustness)},
                       {"query_interval_s", orNull(query.queryIntervalSeconds)},
                       {"sources", addressTexts(query.sources)}});
  }
  return queries;
}

void addDetails(json& test, const MembershipDetails& igmp) {
  test["queries"] = queriesJson(igmp.queries);
  if (igmp.unlistedQueries > 0) test["unlisted_queries"] = igmp.unlistedQueries;
  if (igmp.corruptQueries > 0) test["corrupt_queries"] = igmp.corruptQueries;
  if (igmp.leaveWithheld) test["leave_withheld"] = "group-held-by-host";
}

void addDetails(json& test, const PimDetails& pim) {
  json hellos = json::array();
  for (const NeighbourHello& hello : pim.hellos) {
    hellos.push_back({{"sender", hello.sender.toString()},
                      {"holdtime_s", orNull(hello.options.holdtimeSeconds)},
                      {"dr_priority", orNull(hello.options.drPriority)},
                      {"generation_id", orNull(hello.options.generationId)}});
  }
  test["hellos"] = hellos;
  test["rp_advertisers"] = addressTexts(pim.rpAdvertisers);
  if (pim.unlistedHellos > 0) test["unlisted_hellos"] = pim.unlistedHellos;
  if (pim.unlistedRpAdvertisements > 0) {
    test["unlisted_rp_advertisements"] = pim.unlistedRpAdvertisements;
  }
  if (pim.corruptMessages > 0) test["corrupt_messages"] = pim.corruptMessages;
}

void addDetails(json& /*test*/, const std::monostate& /*none*/) {}

json testJson(const TestRecord& record, net::Family family) {
  json test = {{"number", record.number},
               {"name", batteryTest(record.id, family).name},
               {"header", testHeader(record, family)},
               {"outcome", outcomeName(record.outcome)},
               {"duration_ms", record.durationMs}};
  if (record.error) {
    test["error"] = {{"call", orNull(record.error->call)}, {"code", record.error->code}};
    if (record.error->lacking) test["error"]["platform_lacks"] = *record.error->lacking;
  } else {
    test["error"] = nullptr;
  }
  std::visit([&](const auto& details) { addDetails(test, details); }, record.details);
  return test;
}

// IPv6's tests 5 and 6 speak MLD; their flags say so.
json flagsJson(const PassFlags& f, net::Family family) {
  const bool ipv4 = family == net::Family::V4;
  return {{"host_asm_capable", f.hostAsmCapable},
          {"host_ssm_capable", f.hostSsmCapable},
          {"all_routers_answered", f.allRoutersAnswered},
          {"ssm_routers_answered", f.ssmRoutersAnswered},
          {"pim_routers_answered", f.pimRoutersAnswered},
          {"pim_hello_answered", f.pimHelloAnswered},
          {"asm_beacon_heard", f.asmBeaconHeard},
          {"ssm_beacon_heard", f.ssmBeaconHeard},
          {ipv4 ? "igmp_v2_query_seen" : "mld_v1_query_seen", f.anySourceQuerySeen},
          {ipv4 ? "igmp_v3_query_seen" : "mld_v2_query_seen", f.sourceQuerySeen}};
}

}  // namespace

json diagnosisJson(const BatteryReport& battery) {
  json found = json::array();
  for (const Finding& finding : battery.diagnosis) {
    found.push_back(findingJson(finding));
  }
  return found;
}

json verdictsJson(const BatteryReport& battery) {
  const PassFindings& findings = battery.findings;
  json report = json::array();
  json ids = json::array();
  for (const HeldConclusion& held : battery.conclusions) {
    report.push_back(held.line);
    ids.push_back(held.rule->id);
  }
  return {{"flags", flagsJson(flagsOf(findings), findings.family)},
          {"report", report},
          {"conclusions", ids}};
}

std::string passJson(const PassTiming& timing, const BatteryReport& battery) {
  const PassFindings& findings = battery.findings;
  const InterfaceSummary& chosen = findings.chosenInterface;
  json tests = json::array();
  for (const TestRecord& record : findings.tests) {
    if (record.ran) tests.push_back(testJson(record, findings.family));
  }
  json pass = {
      {"tool", {{"name", "corvanite"}, {"version", CORVANITE_VERSION}}},
      {"family", findings.family == net::Family::V4 ? "ipv4" : "ipv6"},
      {"start_time", rfc3339Utc(timing.start)},
      {"duration_ms", timing.durationMs},
      {"interface",
       {{"name", orNull(chosen.name)},
        {"address", orNull(chosen.address)},
        {"chosen_by", orNull(chosen.chosenBy)}}},
      {"tests", tests},
  };
  if (findings.linkQueries) {
    // The general queries of the whole pass; since_probe_ms counts from the
    // watch's opening, before test 1.
    const LinkQueries& link = *findings.linkQueries;
    pass["link_queries"] = {{"watched_ms", link.watchedMs}, {"queries", queriesJson(link.queries)}};
    if (link.unlisted > 0) pass["link_queries"]["unlisted_queries"] = link.unlisted;
  }
  pass["verdicts"] = verdictsJson(battery);
  pass["diagnosis"] = diagnosisJson(battery);
  // Anything a sender put into a text must not break the line: dump escapes
  // control characters, and invalid UTF-8 is replaced rather than thrown on.
  return pass.dump(-1, ' ', false, json::error_handler_t::replace);
}

JsonOutput::JsonOutput(std::ostream& out) : out_(out) {}

void JsonOutput::passEnds(const PassReport& report) {
  out_ << passJson(report.timing, report.batteries.back()) << std::endl;
}

std::string rfc3339Utc(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss time{floor<milliseconds>(when - day)};
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text.data();
}
