#include "app/pass_json.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/report.h"

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
double toMicroseconds(double ms) { return std::round(ms * 1000.0) / 1000.0; }

void addDetails(json& test, const BeaconDetails& beacon) {
  test["group"] = beacon.group;
  test["port"] = beacon.port;
  test["source"] = orNull(beacon.source);
  json members = json::array();
  for (const BeaconMember& member : beacon.members) {
    members.push_back({{"address", member.address}, {"datagrams", member.datagrams}});
  }
  test["members"] = members;
}

void addDetails(json& test, const PingDetails& ping) {
  test["group"] = ping.group;
  json replies = json::array();
  for (const RouterReply& reply : ping.replies) {
    replies.push_back(
        {{"address", reply.address}, {"round_trip_ms", toMicroseconds(reply.roundTripMs)}});
  }
  test["replies"] = replies;
}

void addDetails(json& test, const IgmpDetails& igmp) {
  json queries = json::array();
  for (const QueryRecord& query : igmp.queries) {
    queries.push_back({{"sender", query.sender},
                       {"destination", query.destination},
                       {"version", query.version},
                       {"group", query.group},
                       {"max_response_ms", query.maxResponseMs},
                       {"since_probe_ms", toMicroseconds(query.sinceProbeMs)}});
  }
  test["queries"] = queries;
}

void addDetails(json& test, const PimDetails& pim) {
  json hellos = json::array();
  for (const HelloRecord& hello : pim.hellos) {
    hellos.push_back({{"sender", hello.sender},
                      {"holdtime_s", orNull(hello.holdtimeSeconds)},
                      {"dr_priority", orNull(hello.drPriority)},
                      {"generation_id", orNull(hello.generationId)}});
  }
  test["hellos"] = hellos;
  test["rp_advertisers"] = pim.rpAdvertisers;
}

void addDetails(json& /*test*/, const std::monostate& /*none*/) {}

json testJson(const TestRecord& record) {
  json test = {{"number", record.number},
               {"header", record.header},
               {"outcome", outcomeName(record.outcome)},
               {"duration_ms", record.durationMs}};
  if (record.error) {
    test["error"] = {{"call", orNull(record.error->call)}, {"code", record.error->code}};
  } else {
    test["error"] = nullptr;
  }
  std::visit([&](const auto& details) { addDetails(test, details); }, record.details);
  return test;
}

json flagsJson(const PassFlags& f) {
  return {{"host_asm_capable", f.hostAsmCapable},
          {"host_ssm_capable", f.hostSsmCapable},
          {"all_routers_answered", f.allRoutersAnswered},
          {"ssm_routers_answered", f.ssmRoutersAnswered},
          {"pim_routers_answered", f.pimRoutersAnswered},
          {"pim_hello_answered", f.pimHelloAnswered},
          {"asm_beacon_heard", f.asmBeaconHeard},
          {"ssm_beacon_heard", f.ssmBeaconHeard},
          {"igmp_v2_query_seen", f.igmpV2QuerySeen},
          {"igmp_v3_query_seen", f.igmpV3QuerySeen}};
}

}  // namespace

std::vector<std::string> reportLines(const PassFindings& findings) {
  std::ostringstream text;
  printReport(text, findings);
  std::istringstream lines(text.str());
  std::vector<std::string> conclusions;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("=> ", 0) == 0) conclusions.push_back(line);
  }
  return conclusions;
}

std::string passJson(const PassTiming& timing, const PassFindings& findings) {
  const InterfaceSummary& chosen = findings.chosenInterface;
  json tests = json::array();
  for (const TestRecord& record : findings.tests) tests.push_back(testJson(record));
  const json pass = {
      {"tool", {{"name", "corvanite"}, {"version", CORVANITE_VERSION}}},
      {"start_time", rfc3339Utc(timing.start)},
      {"duration_ms", timing.durationMs},
      {"interface",
       {{"name", orNull(chosen.name)},
        {"address", orNull(chosen.address)},
        {"chosen_by", orNull(chosen.chosenBy)}}},
      {"tests", tests},
      {"verdicts", {{"flags", flagsJson(findings.flags)}, {"report", reportLines(findings)}}},
  };
  // Anything a sender put into a text must not break the line: dump escapes
  // control characters, and invalid UTF-8 is replaced rather than thrown on.
  return pass.dump(-1, ' ', false, json::error_handler_t::replace);
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
