// Whole passes against scripted networks: the text a user sees is the same,
// byte for byte, as the real tool prints in the lab (the end-to-end golden
// texts), and the pass keeps the battery's timing on the script's clock.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/battery.h"
#include "app/run.h"
#include "tests/unit/diagnosis_scenarios.h"
#include "tests/unit/golden_text.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace {

using namespace testing_support;

// The interactive run as the tool makes it, on `network`, answering the prompt with `input`.
std::string interactiveRun(ScriptedNetwork& network, const PassSetup& setup,
                           const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  runDiagnostics(in, out, [&](PassObserver& observer, PassReport& report) {
    runPass(network, setup, observer, report);
  });
  return out.str();
}

TEST(Pass, FullLabPrintsTheGoldenText) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  EXPECT_EQ(interactiveRun(network, labSetup(), "q\n"), goldenText("full_pass.txt"));
}

TEST(Pass, TwoPassesInTheFullLabPrintTheGoldenText) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  EXPECT_EQ(interactiveRun(network, labSetup(), "y\nq\n"), goldenText("full_two_passes.txt"));
}

TEST(Pass, LinkWithNothingOnItPrintsTheGoldenTextAndTakesTheWholeFixedWaits) {
  ScriptedNetwork network;
  EXPECT_EQ(interactiveRun(network, labSetup(), "q\n"), goldenText("bare_pass.txt"));
  // 2 s, 2 + 2 s, 2 s, 2 s, 2 + 1 s, 5 + 2 + 1 s, 2 s and 5 s.
  EXPECT_EQ(network.clock(), milliseconds(28000));
}

TEST(Pass, GeneralQueriesOfTheWholePassAreKeptBesideTestsFiveAndSix) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  const net::Address switchQuerier{};
  auto corrupt = igmpV2Query(kLabRouter, net::Address{});
  corrupt.back() ^= 0xFF;
  // During test 1, test 3 and test 8: outside the membership tests' windows.
  network.scripts[SocketKind::QueryWatch].arrivals = {
      Arrival{igmpV2Query(switchQuerier, net::Address{}), {switchQuerier, 0}, milliseconds(1500)},
      Arrival{igmpV3Query(kLabRouter, kLabAsmGroup), {kLabRouter, 0}, milliseconds(2000)},
      Arrival{corrupt, {kLabRouter, 0}, milliseconds(6100)},
      Arrival{igmpV3Query(kLabRouter, net::Address{}), {kLabRouter, 0}, milliseconds(20000)}};
  const PassFindings findings = passOn(network);

  ASSERT_TRUE(findings.linkQueries.has_value());
  const LinkQueries& link = *findings.linkQueries;
  ASSERT_EQ(link.queries.size(), 2U) << "a group's query and a corrupt one are left out";
  EXPECT_EQ(link.queries[0].query.version, 2);
  EXPECT_TRUE(link.queries[0].query.sender.isUnspecified());
  EXPECT_DOUBLE_EQ(link.queries[0].sinceProbeMs, 1500);
  EXPECT_EQ(link.queries[1].query.version, 3);
  EXPECT_DOUBLE_EQ(link.queries[1].sinceProbeMs, 20000);
  EXPECT_EQ(link.watchedMs, network.clock().count()) << "from before test 1 to the end";
  EXPECT_EQ(network.requests[SocketKind::QueryWatch].destination,
            (net::Endpoint{net::Address::v4(0xE0000001U), 0}));
  // The membership tests keep their own verdicts from their own windows.
  EXPECT_EQ(findings.details<MembershipDetails>(TestId::AnySourceMembership).queries.size(), 1U);
}

TEST(Pass, PassWithoutItsQueryWatchStillRunsEveryTest) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  network.failures.push_back(ScriptedFailure{SocketKind::QueryWatch, 0, "Bind", 19});
  const PassFindings findings = passOn(network);
  EXPECT_FALSE(findings.linkQueries.has_value());
  EXPECT_TRUE(findings.ranCleanly(TestId::PimHello));

  ScriptedNetwork unreadable;
  ScriptedLab{}.install(unreadable);
  unreadable.scripts[SocketKind::QueryWatch].arrivals = {
      Arrival{igmpV3Query(kLabRouter, net::Address{}), {kLabRouter, 0}, milliseconds(100)}};
  unreadable.failures.push_back(ScriptedFailure{SocketKind::QueryWatch, 0, "recvFrom", 5});
  const PassFindings failedRead = passOn(unreadable);
  EXPECT_FALSE(failedRead.linkQueries.has_value()) << "what a failed watch missed is unknown";
  EXPECT_EQ(failedRead.tests.back().outcome, TestOutcome::Succeeded);
}

TEST(Pass, WithoutRawSocketsOnlyTheBeaconTestsRun) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  network.rawSocketsRefused = 1;
  EXPECT_EQ(interactiveRun(network, labSetup(), "q\n"), goldenText("faults_no_raw_rights.txt"));
}

TEST(Pass, HostNameThatDoesNotResolveFailsOnlyTheTestsThatBind) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  PassSetup setup = labSetup();
  setup.link = net::PassLink{std::nullopt, net::CV_SocketException(-3, "getaddrinfo")};
  EXPECT_EQ(interactiveRun(network, setup, "q\n"), goldenText("faults_name_unresolvable.txt"));
}

TEST(Pass, EveryTestIsRecordedWithItsNumberDurationAndOutcome) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  PassObserver quiet;
  PassFindings findings;
  runPassInto(network, labSetup(), quiet, findings);
  ASSERT_EQ(findings.tests.size(), 8U);
  const std::uint32_t durations[] = {2000, 4000, 1, 1, 3000, 8000, 1, 5000};
  for (std::size_t i = 0; i < findings.tests.size(); ++i) {
    const TestRecord& record = findings.tests[i];
    EXPECT_EQ(record.number, static_cast<int>(i + 1));
    EXPECT_TRUE(record.ran);
    EXPECT_EQ(record.outcome, TestOutcome::Succeeded) << "test " << record.number;
    EXPECT_EQ(record.durationMs, durations[i]) << "test " << record.number;
  }
}

// The captures of tests 5, 6 and 8 can be got ready while tests 1 to 4 run:
// the pass names its link before anything is sent or joined, once a pass.
TEST(Pass, EachPassNamesItsLinkForItsCapturesBeforeItsFirstTest) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  interactiveRun(network, labSetup(), "y\nq\n");
  ASSERT_EQ(network.preparedLinks.size(), 2U);
  for (const auto& prepared : network.preparedLinks) {
    ASSERT_TRUE(prepared.link.chosen);
    EXPECT_EQ(prepared.link.chosen->name, labSetup().link.chosen->name);
  }
  EXPECT_EQ(network.preparedLinks[0].sentBefore, 0U);
  EXPECT_EQ(network.preparedLinks[0].at, milliseconds(0));
  // The passes send alike: the second names the link once the first is done.
  EXPECT_EQ(network.preparedLinks[1].sentBefore * 2, network.sent.size());
  // Each gives them up after its last message (test 8's goodbye): nothing
  // holds the interface in all-multicast mode while the prompt waits.
  EXPECT_EQ(network.capturesReleased,
            (std::vector<std::size_t>{network.sent.size() / 2, network.sent.size()}));
}

// Tells nothing after its `wantedTests`th test has ended.
class ReaderThatLeaves final : public PassObserver {
 public:
  explicit ReaderThatLeaves(int wantedTests) : left_(wantedTests) {}
  void testEnds(const TestRecord& /*record*/) override { --left_; }
  void passEnds(const PassReport& /*report*/) override { reported_ = true; }
  [[nodiscard]] bool stillWanted() const override { return left_ > 0; }
  [[nodiscard]] bool reported() const { return reported_; }

 private:
  int left_;
  bool reported_ = false;
};

TEST(Pass, NoFurtherTestRunsOnceNobodyTakesItsOutput) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  ReaderThatLeaves reader(3);
  PassFindings findings;
  runPassInto(network, labSetup(), reader, findings);
  EXPECT_TRUE(findings.tests[2].ran);
  EXPECT_FALSE(findings.tests[3].ran);
  EXPECT_FALSE(reader.reported());
  EXPECT_TRUE(network.sentBy(SocketKind::IgmpCapture).empty());
}

TEST(Pass, FindingsOfAnEarlierPassNeverCarryOver) {
  ScriptedNetwork full;
  ScriptedLab{}.install(full);
  PassObserver quiet;
  PassFindings findings;
  runPassInto(full, labSetup(), quiet, findings);
  ScriptedNetwork bare;
  runPassInto(bare, labSetup(), quiet, findings);
  const PassFlags flags = flagsOf(findings);
  EXPECT_FALSE(flags.asmBeaconHeard);
  EXPECT_FALSE(flags.pimHelloAnswered);
  EXPECT_TRUE(pimResponderText(findings).empty());
}

}  // namespace
