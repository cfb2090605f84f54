#include "app/pass_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <random>
#include <vector>

#include "app/conclusions.h"
#include "tests/unit/pass_sample.h"

namespace {

using nlohmann::json;
using testing_support::passThatFoundNothing;
using testing_support::samplePass;

const PassTiming kTiming{std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} +
                             std::chrono::hours{18} + std::chrono::minutes{5} +
                             std::chrono::milliseconds{9123},
                         22014};

json parsed(const PassFindings& pass) {
  return json::parse(passJson(kTiming, reportBattery(pass)));
}

TEST(PassJson, OneLineWithToolTimeAndInterface) {
  const std::string line = passJson(kTiming, reportBattery(samplePass()));
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const json pass = json::parse(line);
  EXPECT_EQ(pass["tool"]["name"], "corvanite");
  EXPECT_EQ(pass["tool"]["version"], CORVANITE_TEST_VERSION);
  EXPECT_EQ(pass["start_time"], "2026-12-08T18:05:09.123Z");
  EXPECT_EQ(pass["duration_ms"], 22014);
  EXPECT_EQ(pass["interface"], json::parse(R"({"name":"eth0","address":"10.0.1.2",
                                               "chosen_by":"host-name"})"));
  // The order a reader sees is the order of the description.
  EXPECT_EQ(line.rfind(R"({"tool":{"name":"corvanite","version":)", 0), 0U);
  // What is not known about the link is null.
  EXPECT_EQ(parsed(passThatFoundNothing())["interface"],
            json::parse(R"({"name":null,"address":null,"chosen_by":null})"));
}

TEST(PassJson, TheWholePassesGeneralQueriesFollowTheTestsOnlyWhenWatched) {
  PassFindings pass = samplePass();
  EXPECT_FALSE(parsed(pass).contains("link_queries")) << "no watch, no key";

  MembershipQuery query;
  query.sender = net::Address::v4(0);
  query.destination = net::Address::v4(0xE0000001U);
  query.version = 2;
  query.group = net::Address::v4(0);
  query.maxResponseMs = 10000;
  pass.linkQueries = LinkQueries{{{query, 1500.25}}, 3, 28004};
  const std::string line = passJson(kTiming, reportBattery(pass));
  EXPECT_LT(line.find("\"link_queries\""), line.find("\"verdicts\""));
  EXPECT_GT(line.find("\"link_queries\""), line.find("\"tests\""));
  EXPECT_EQ(json::parse(line)["link_queries"], json::parse(R"({"watched_ms":28004,
      "queries":[{"sender":"0.0.0.0","destination":"224.0.0.1","version":2,"group":"0.0.0.0",
      "max_response_ms":10000,"since_probe_ms":1500.25,"robustness":null,
      "query_interval_s":null,"sources":[]}],"unlisted_queries":3})"));
}

TEST(PassJson, EveryTestWithItsOutcomeErrorAndDetails) {
  const json tests = parsed(samplePass())["tests"];
  ASSERT_EQ(tests.size(), 8U);
  EXPECT_EQ(tests[0], json::parse(R"({"number":1,"name":"asm-beacon",
      "header":"1.  Joining NLAR Multicast Beacon Group 233.4.200.19, port 10002 ",
      "outcome":"succeeded","duration_ms":2000,"error":null,"group":"233.4.200.19","port":10002,
      "source":null,"members":[{"address":"198.51.100.20","datagrams":20},
                               {"address":"198.51.100.21","datagrams":3}]})"));
  EXPECT_EQ(tests[1]["outcome"], "error");
  EXPECT_EQ(tests[1]["error"], json::parse(R"({"call":"SetOption","code":105})"));
  EXPECT_EQ(tests[1]["source"], "198.51.100.20");
  EXPECT_EQ(tests[1]["header"],
            "2.  Joining SSM Video Group 232.64.133.120, 198.51.100.20 port 8020 ");
  EXPECT_EQ(tests[2]["replies"], json::parse(R"([{"address":"10.0.1.1","round_trip_ms":0.413}])"));
  EXPECT_EQ(tests[2]["group"], "224.0.0.2");
  EXPECT_EQ(tests[3]["outcome"], "failed");
  EXPECT_EQ(tests[3]["replies"], json::array());
  EXPECT_EQ(tests[4]["queries"], json::parse(R"([{"sender":"10.0.1.1",
      "destination":"233.4.200.19","version":3,"group":"233.4.200.19",
      "max_response_ms":1000,"since_probe_ms":2004.5,"robustness":2,"query_interval_s":125,
      "sources":[]}])"));
  // A raw socket failure names no call.
  EXPECT_EQ(tests[5]["error"], json::parse(R"({"call":null,"code":1})"));
  EXPECT_EQ(tests[7]["hellos"], json::parse(R"([
      {"sender":"10.0.1.1","holdtime_s":105,"dr_priority":1,"generation_id":3735928559},
      {"sender":"10.0.1.9","holdtime_s":null,"dr_priority":null,"generation_id":null}])"));
  EXPECT_EQ(tests[7]["rp_advertisers"], json::parse(R"(["10.255.0.1"])"));
  // Names scripts can rely on, in the battery's order.
  const std::vector<std::string> names{"asm-beacon",          "ssm-beacon",   "all-routers-ping",
                                       "igmpv3-routers-ping", "igmpv2-query", "igmpv3-query",
                                       "pim-routers-ping",    "pim-hello"};
  for (std::size_t i = 0; i < tests.size(); ++i) {
    EXPECT_EQ(tests[i]["name"], names[i]);
    EXPECT_EQ(tests[i]["number"], i + 1);
    EXPECT_EQ(tests[i]["header"].get<std::string>().rfind(std::to_string(i + 1) + ".  ", 0), 0U);
  }
}

TEST(PassJson, VerdictsCarryTheFlagsAndTheReportLinesAsPrinted) {
  const json verdicts = parsed(samplePass())["verdicts"];
  // Read off the records: test 2 ended in an error, test 4 heard no router.
  EXPECT_EQ(verdicts["flags"], json::parse(R"({"host_asm_capable":true,"host_ssm_capable":false,
      "all_routers_answered":true,"ssm_routers_answered":false,"pim_routers_answered":true,
      "pim_hello_answered":true,"asm_beacon_heard":true,"ssm_beacon_heard":false,
      "igmp_v2_query_seen":true,"igmp_v3_query_seen":false})"));
  const json report = verdicts["report"];
  ASSERT_EQ(report.size(), 6U);
  EXPECT_EQ(report[0], "=> Host Operating System is capable of Any Source Multicast (IGMP v2) ");
  // The PIM line ends in the responder list, whose ", " is kept.
  EXPECT_EQ(report[4],
            "=> PIM-SM is active at first hop router and responds to Hello message. The reponders "
            "are 10.0.1.1, 10.0.1.9, ");
  EXPECT_EQ(verdicts["conclusions"], json::parse(R"(["host-asm","router-asm","path-asm",
      "router-pim","pim-active","asm-beacon-working"])"));
  const auto held = conclusionsThatHold(samplePass());
  ASSERT_EQ(held.size(), report.size());
  for (std::size_t i = 0; i < held.size(); ++i) EXPECT_EQ(report[i], held[i].line);

  const json nothing = parsed(passThatFoundNothing())["verdicts"];
  EXPECT_EQ(nothing["report"],
            json::array({"=> Host Operating System is capable of Any Source Multicast (IGMP v2) ",
                         "=> Host Operating System is capable of Source Specific Multicast (IGMP "
                         "v3) "}));
  EXPECT_EQ(nothing["conclusions"], json::parse(R"(["host-asm","host-ssm"])"));
}

// An interface's name is the host's, and may hold any byte but '/', ':' and
// blanks; a failed call's name is the platform's.
TEST(PassJson, TextsCannotBreakTheLine) {
  PassFindings pass = samplePass();
  pass.chosenInterface.name = "quote\" back\\slash\x01 and \xff bad UTF-8";
  pass.tests[1].error->call = "line\nbreak";
  const std::string line = passJson(kTiming, reportBattery(pass));
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const json parsedPass = json::parse(line);
  EXPECT_EQ(parsedPass["interface"]["name"].get<std::string>().substr(0, 23),
            "quote\" back\\slash\x01 and ");
  EXPECT_EQ(parsedPass["tests"][1]["error"]["call"], "line\nbreak");
}

// Round trips to the microsecond, rounded as std::round rounds, halves away
// from zero included.
TEST(PassJson, RoundTripsRoundToTheMicrosecondAsStdRoundDoes) {
  std::mt19937 random(29);
  std::uniform_real_distribution<double> milliseconds(0.0, 2000.0);
  std::vector<double> samples{0.0005, 0.0015, 0.4125, 1.0004999, 2.0005, 1999.9995, 0.0};
  for (int i = 0; i < 2000; ++i) samples.push_back(milliseconds(random));
  for (const double sample : samples) {
    PassFindings pass = samplePass();
    std::get<PingDetails>(pass.tests[2].details).replies = {{net::Address{}, sample}};
    const double written = parsed(pass)["tests"][2]["replies"][0]["round_trip_ms"];
    EXPECT_EQ(written, std::round(sample * 1000.0) / 1000.0) << sample;
  }
}

TEST(PassJson, TimesAreUtcToTheMillisecond) {
  using namespace std::chrono;
  EXPECT_EQ(rfc3339Utc(sys_days{year{1999} / 12 / 31} + hours{23} + minutes{59} + seconds{59} +
                       milliseconds{999}),
            "1999-12-31T23:59:59.999Z");
  EXPECT_EQ(rfc3339Utc(sys_days{year{2028} / 2 / 29}), "2028-02-29T00:00:00.000Z");
}

}  // namespace
