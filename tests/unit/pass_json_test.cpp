#include "app/pass_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/unit/pass_sample.h"

namespace {

using nlohmann::json;
using testing_support::samplePass;

const PassTiming kTiming{std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} +
                             std::chrono::hours{18} + std::chrono::minutes{5} +
                             std::chrono::milliseconds{9123},
                         22014};

json parsed(const PassFindings& pass) { return json::parse(passJson(kTiming, pass)); }

TEST(PassJson, OneLineWithToolTimeAndInterface) {
  const std::string line = passJson(kTiming, samplePass());
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
}

TEST(PassJson, EveryTestWithItsOutcomeErrorAndDetails) {
  const json tests = parsed(samplePass())["tests"];
  ASSERT_EQ(tests.size(), 8U);
  EXPECT_EQ(tests[0], json::parse(R"({"number":1,"header":"1.  header ","outcome":"succeeded",
      "duration_ms":2000,"error":null,"group":"233.4.200.19","port":10002,"source":null,
      "members":[{"address":"198.51.100.20","datagrams":20},
                 {"address":"198.51.100.21","datagrams":3}]})"));
  EXPECT_EQ(tests[1]["outcome"], "error");
  EXPECT_EQ(tests[1]["error"], json::parse(R"({"call":"SetOption","code":105})"));
  EXPECT_EQ(tests[1]["source"], "198.51.100.20");
  EXPECT_EQ(tests[2]["replies"], json::parse(R"([{"address":"10.0.1.1","round_trip_ms":0.413}])"));
  EXPECT_EQ(tests[3]["outcome"], "failed");
  EXPECT_EQ(tests[3]["replies"], json::array());
  EXPECT_EQ(tests[4]["queries"], json::parse(R"([{"sender":"10.0.1.1",
      "destination":"233.4.200.19","version":3,"group":"233.4.200.19",
      "max_response_ms":1000,"since_probe_ms":2004.5}])"));
  // A raw socket failure names no call.
  EXPECT_EQ(tests[5]["error"], json::parse(R"({"call":null,"code":1})"));
  EXPECT_EQ(tests[7]["hellos"], json::parse(R"([
      {"sender":"10.0.1.1","holdtime_s":105,"dr_priority":1,"generation_id":3735928559},
      {"sender":"10.0.1.9","holdtime_s":null,"dr_priority":null,"generation_id":null}])"));
  EXPECT_EQ(tests[7]["rp_advertisers"], json::parse(R"(["10.255.0.1"])"));
}

TEST(PassJson, VerdictsCarryTheFlagsAndTheReportLinesAsPrinted) {
  const json verdicts = parsed(samplePass())["verdicts"];
  EXPECT_EQ(verdicts["flags"]["host_asm_capable"], true);
  EXPECT_EQ(verdicts["flags"]["ssm_beacon_heard"], false);
  EXPECT_EQ(verdicts["flags"]["igmp_v3_query_seen"], false);
  EXPECT_EQ(verdicts["flags"].size(), 10U);
  const json report = verdicts["report"];
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report[0], "=> Host Operating System is capable of Any Source Multicast (IGMP v2) ");
  // The PIM line ends in the responder list, whose ", " is kept.
  bool sawResponders = false;
  for (const auto& line : report) {
    sawResponders |= line.get<std::string>().ends_with("The reponders are 10.0.1.1, ");
  }
  EXPECT_TRUE(sawResponders);
  EXPECT_EQ(reportLines(samplePass()).size(), report.size());
}

TEST(PassJson, TextsFromTheNetworkCannotBreakTheLine) {
  PassFindings pass = samplePass();
  pass.tests[0].header = "quote \" back\\slash\nnewline \x01 and \xff bad UTF-8";
  const std::string line = passJson(kTiming, pass);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const json header = json::parse(line)["tests"][0]["header"];
  EXPECT_EQ(header.get<std::string>().substr(0, 27), "quote \" back\\slash\nnewline ");
}

TEST(PassJson, TimesAreUtcToTheMillisecond) {
  using namespace std::chrono;
  EXPECT_EQ(rfc3339Utc(sys_days{year{1999} / 12 / 31} + hours{23} + minutes{59} + seconds{59} +
                       milliseconds{999}),
            "1999-12-31T23:59:59.999Z");
  EXPECT_EQ(rfc3339Utc(sys_days{year{2028} / 2 / 29}), "2028-02-29T00:00:00.000Z");
}

}  // namespace
