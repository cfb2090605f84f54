// The findings on the host's own settings, the beacons' TTL and the PIM
// neighbours: what each proves from its evidence and what it must not claim.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/battery.h"
#include "app/diagnosis.h"
#include "app/finding_json.h"
#include "app/finding_text.h"
#include "tests/unit/diagnosis_scenarios.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace {

using namespace testing_support;

nlohmann::ordered_json evidenceOf(const Finding& finding) {
  return findingJson(finding)["evidence"];
}

std::optional<Finding> find(const std::vector<Finding>& found, const std::string& id) {
  const auto match = std::find_if(found.begin(), found.end(), [&](const Finding& finding) {
    return findingName(finding.id) == id;
  });
  if (match == found.end()) return std::nullopt;
  return *match;
}

bool says(const Finding& finding, const std::string& words) {
  return findingSentence(finding).find(words) != std::string::npos;
}

TEST(HostSettings, IgmpHeldAtThreeFallsBackLikeTheDefaultAndSaysSo) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  network.host.forcedIgmpVersion = net::KernelSetting{"net.ipv4.conf.all.force_igmp_version", 3};
  network.host.igmpMode = 2;
  const auto found = diagnosisOf(passOn(network));
  const auto forced = find(found, "host-igmp-version-forced");
  ASSERT_TRUE(forced.has_value());
  EXPECT_EQ(forced->severity, Severity::Info);
  EXPECT_TRUE(says(*forced, "still falls back")) << findingSentence(*forced);
  EXPECT_FALSE(says(*forced, "never falls back"));
  // The fallback it did make is the compatibility mode's to tell.
  EXPECT_TRUE(find(found, "host-igmp-compat-mode").has_value());
}

TEST(HostSettings, MldHeldAtTwoBesideAnMldV1QuerierIsAProblemNamingBoth) {
  PassFindings findings = ipv6Pass({mldQuery(kRouter6, 1, "ff3e:20:2001:db8::19")});
  findings.hostState.forcedMldVersion =
      net::KernelSetting{"net.ipv6.conf.eth0.force_mld_version", 2};
  const auto forced = find(diagnosisOf(findings), "host-mld-version-forced");
  ASSERT_TRUE(forced.has_value());
  EXPECT_EQ(forced->severity, Severity::Problem);
  EXPECT_EQ(evidenceOf(*forced)["querier"], "fe80::1");
  EXPECT_EQ(evidenceOf(*forced)["querier_version"], 1);
  EXPECT_TRUE(says(*forced, "net.ipv6.conf.eth0.force_mld_version is 2 and the querier fe80::1"));
  EXPECT_TRUE(says(*forced, "not even any-source multicast"));

  // Beside an MLDv2 querier the same setting harms nothing.
  PassFindings modern = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")});
  modern.hostState.forcedMldVersion = findings.hostState.forcedMldVersion;
  const auto harmless = find(diagnosisOf(modern), "host-mld-version-forced");
  ASSERT_TRUE(harmless.has_value());
  EXPECT_EQ(harmless->severity, Severity::Info);
  EXPECT_TRUE(evidenceOf(*harmless)["querier"].is_null());
}

TEST(HostSettings, AHostThatRoutesMulticastIsWarnedOfInItsOwnFamilyOnly) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  network.host.multicastForwarding = net::KernelSetting{"net.ipv4.conf.eth0.mc_forwarding", 1};
  const auto router = find(diagnosisOf(passOn(network)), "host-is-router");
  ASSERT_TRUE(router.has_value());
  EXPECT_EQ(router->severity, Severity::Warning);
  EXPECT_EQ(evidenceOf(*router)["setting"], "net.ipv4.conf.eth0.mc_forwarding");
  EXPECT_TRUE(says(*router, "its own queries and Hellos never reach its tests"));

  PassFindings ipv6 = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")});
  ipv6.hostState.multicastForwarding = network.host.multicastForwarding;
  EXPECT_FALSE(find(diagnosisOf(ipv6), "host-is-router").has_value());
  ipv6.hostState.multicastForwardingV6 = net::KernelSetting{"net.ipv6.conf.eth0.mc_forwarding", 1};
  EXPECT_TRUE(find(diagnosisOf(ipv6), "host-is-router").has_value());
}

// A beacon dropped by the host, with the route back and the filter given.
PassFindings droppedBeacons(std::optional<std::vector<std::string>> route, int filter) {
  ScriptedNetwork network;
  installLabThatDropsBeacons(network);
  network.host.reversePathFilter = net::KernelSetting{"net.ipv4.conf.all.rp_filter", filter};
  if (route) network.routes[kLabBeaconSource] = *route;
  return passOn(network);
}

std::string causeOf(const PassFindings& findings) {
  const auto dropped = find(diagnosisOf(findings), "host-drops-beacon");
  if (!dropped) return "(no finding)";
  return evidenceOf(*dropped)["beacons"][0]["cause"];
}

TEST(ReversePath, NoRouteBackIsDroppedByEitherModeButNotWithoutFiltering) {
  for (const int filter : {1, 2}) {
    const PassFindings findings = droppedBeacons(std::vector<std::string>{}, filter);
    EXPECT_EQ(causeOf(findings), "rp_filter") << filter;
    const auto dropped = find(diagnosisOf(findings), "host-drops-beacon");
    ASSERT_TRUE(dropped.has_value());
    EXPECT_EQ(evidenceOf(*dropped)["beacons"][0]["no_route"], true);
    EXPECT_TRUE(says(*dropped, "drops them, as the host has no route back to 198.51.100.20."))
        << findingSentence(*dropped);
  }
  EXPECT_EQ(causeOf(droppedBeacons(std::vector<std::string>{}, 0)), "unknown");
}

TEST(ReversePath, StrictModeAcceptsAMultipathRouteWithAnyNextHopOnTheLink) {
  EXPECT_EQ(causeOf(droppedBeacons(std::vector<std::string>{"eth1", "eth0"}, 1)), "unknown");
  EXPECT_EQ(causeOf(droppedBeacons(std::vector<std::string>{"eth1", "eth2"}, 1)), "rp_filter");
  // Loose mode asks only for some route.
  EXPECT_EQ(causeOf(droppedBeacons(std::vector<std::string>{"eth1", "eth2"}, 2)), "unknown");
  // A route the platform told nothing of proves nothing.
  EXPECT_EQ(causeOf(droppedBeacons(std::nullopt, 1)), "unknown");
}

TEST(BeaconTtl, OneMoreHopEndsABeaconAtTtlTwoButNotAtThree) {
  for (const int hops : {1, 2, 3}) {
    const auto ttl = static_cast<std::uint8_t>(hops);
    ScriptedNetwork network;
    ScriptedLab{}.install(network);
    network.scripts[SocketKind::BeaconCapture].arrivals = beaconsOnLink(kLabBeaconSource, ttl);
    const auto found = diagnosisOf(passOn(network));
    const auto low = find(found, "beacon-ttl-low");
    if (ttl == 3) {
      EXPECT_FALSE(low.has_value());
      continue;
    }
    ASSERT_TRUE(low.has_value()) << int{ttl};
    EXPECT_EQ(low->severity, Severity::Warning);
    ASSERT_EQ(evidenceOf(*low)["beacons"].size(), 2U);
    EXPECT_EQ(evidenceOf(*low)["beacons"][0]["lowest_ttl"], ttl);
    EXPECT_EQ(evidenceOf(*low)["beacons"][0]["sender"], "198.51.100.20");
    EXPECT_TRUE(says(*low, "with TTL " + std::to_string(ttl) + ": one more router"));
  }
}

TEST(PimPassive, APingAnsweredWithoutHelloIsSaidWhereAHelloOrNoAnswerIsNot) {
  PassFindings passive = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")});
  std::get<PimDetails>(passive.find(TestId::PimHello)->details).hellos.clear();
  std::get<PingDetails>(passive.find(TestId::PimRoutersPing)->details).group =
      *net::Address::parseV6("ff02::d");
  const auto found = find(diagnosisOf(passive), "pim-passive");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->severity, Severity::Info);
  EXPECT_TRUE(says(*found,
                   "fe80::1 answered the ping of ff02::d on eth0, but no PIM Hello came "
                   "in the 5 s"))
      << findingSentence(*found);

  EXPECT_FALSE(
      find(diagnosisOf(ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")})), "pim-passive").has_value());
  PassFindings silent = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")}, false);
  std::get<PimDetails>(silent.find(TestId::PimHello)->details).hellos.clear();
  EXPECT_FALSE(find(diagnosisOf(silent), "pim-passive").has_value());
}

// The lab, whose router's Hellos come at `at` milliseconds after the tool's
// own, with `holdtime`.
void pimLab(ScriptedNetwork& network, std::vector<int> at, std::uint16_t holdtime,
            std::uint32_t generationId = 0x0BADCAFE) {
  ScriptedLab{}.install(network);
  network.scripts[SocketKind::PimCapture].replies =
      [at, holdtime, generationId](std::span<const std::uint8_t>, const net::Endpoint&) {
        std::vector<Arrival> hellos;
        for (const int ms : at) {
          hellos.push_back(Arrival{
              pimHelloFrom(kLabRouter, generationId, holdtime), {kLabRouter, 0}, milliseconds(ms)});
        }
        return hellos;
      };
}

TEST(PimHoldtime, ASilenceLongerThanTheHoldtimeIsFlaggedAndHellosWithinItAreNot) {
  ScriptedNetwork lapsing;
  pimLab(lapsing, {3}, 3);
  const auto found = find(diagnosisOf(passOn(lapsing)), "pim-holdtime");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->severity, Severity::Warning);
  const auto neighbour = evidenceOf(*found)["neighbours"][0];
  EXPECT_EQ(neighbour["address"], "10.0.1.1");
  EXPECT_EQ(neighbour["holdtime_s"], 3);
  EXPECT_GT(neighbour["silence_ms"].get<int>(), 3000);
  EXPECT_TRUE(says(*found, "sent a Hello with a holdtime of 3 s, then nothing for 4.9 s"))
      << findingSentence(*found);

  // Fast Hellos inside their short holdtime are sound, and so is the default.
  ScriptedNetwork fast;
  pimLab(fast, {3, 1003, 2003, 3003, 4003}, 2);
  EXPECT_FALSE(find(diagnosisOf(passOn(fast)), "pim-holdtime").has_value());
  ScriptedNetwork standard;
  pimLab(standard, {3}, 105);
  EXPECT_FALSE(find(diagnosisOf(passOn(standard)), "pim-holdtime").has_value());
}

// Two passes of one run; the diagnosis of the second.
std::vector<Finding> secondPass(ScriptedNetwork& first, ScriptedNetwork& second) {
  RunMemory memory;
  PassObserver quiet;
  PassReport earlier = PassReport::startingNow();
  runPass(first, labSetup(), quiet, earlier, memory);
  PassReport later = PassReport::startingNow();
  runPass(second, labSetup(), quiet, later, memory);
  return later.batteries.back().diagnosis;
}

TEST(PimRestart, ANewGenerationIdBetweenPassesIsARestartTheSameOneIsNot) {
  ScriptedNetwork before;
  pimLab(before, {3}, 105, 0x11111111);
  ScriptedNetwork after;
  pimLab(after, {3}, 105, 0x22222222);
  const auto found = secondPass(before, after);
  const auto restarted = find(found, "pim-neighbour-restarted");
  ASSERT_TRUE(restarted.has_value());
  EXPECT_EQ(restarted->severity, Severity::Warning);
  EXPECT_EQ(evidenceOf(*restarted)["neighbours"][0]["previous_generation_id"], 0x11111111);
  EXPECT_EQ(evidenceOf(*restarted)["neighbours"][0]["generation_id"], 0x22222222);

  ScriptedNetwork same;
  pimLab(same, {3}, 105, 0x11111111);
  ScriptedNetwork again;
  pimLab(again, {3}, 105, 0x11111111);
  EXPECT_FALSE(find(secondPass(same, again), "pim-neighbour-restarted").has_value());
  // A run's first pass has nothing to compare with.
  ScriptedNetwork alone;
  pimLab(alone, {3}, 105, 0x22222222);
  EXPECT_FALSE(find(diagnosisOf(passOn(alone)), "pim-neighbour-restarted").has_value());
}

TEST(PimDr, AnElectionByAddressPrintsNoPriorityAndTheWindowIsNamed) {
  PassFindings findings = ipv6Pass({mldQuery(kRouter6, 2, "ff3e::120")});
  auto& pim = std::get<PimDetails>(findings.find(TestId::PimHello)->details);
  pim.hellos = {{*net::Address::parseV6("fe80::9"), HelloOptions{105, 5, 1}},
                {*net::Address::parseV6("fe80::1"), HelloOptions{105, std::nullopt, 2}}};
  const auto dr = find(diagnosisOf(findings), "pim-dr");
  ASSERT_TRUE(dr.has_value());
  EXPECT_EQ(evidenceOf(*dr)["address"], "fe80::9");
  EXPECT_TRUE(evidenceOf(*dr)["dr_priority"].is_null());
  EXPECT_EQ(evidenceOf(*dr)["elected_by"], "address");
  EXPECT_FALSE(says(*dr, "(DR priority")) << findingSentence(*dr);
  EXPECT_TRUE(says(*dr, "heard in 5 s"));
  EXPECT_FALSE(says(*dr, "it forwards the link's multicast"));
}

// A second router answered the ping of 224.0.0.13 but its Hello came after
// the window: it has the higher address, so by the election the test saw it
// would be the DR, and the finding must not name the heard one as the DR
// outright.
TEST(PimDr, ARouterThatAnsweredThePingButSaidNoHelloLeavesTheElectionOpen) {
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  PassFindings findings = passOn(network);
  auto& ping = std::get<PingDetails>(findings.find(TestId::PimRoutersPing)->details);
  ASSERT_FALSE(ping.replies.empty());
  const std::string heard = ping.replies.front().from.toString();
  ping.replies.push_back({*net::Address::parseV4("10.0.1.5"), 0.4});
  ping.replies.push_back({*net::Address::parseV4("10.0.1.5"), 0.5});

  const auto dr = find(diagnosisOf(findings), "pim-dr");
  ASSERT_TRUE(dr.has_value());
  EXPECT_EQ(evidenceOf(*dr)["address"], heard);
  EXPECT_EQ(evidenceOf(*dr)["unheard_repliers"], nlohmann::ordered_json::array({"10.0.1.5"}));
  EXPECT_FALSE(says(*dr, "The PIM designated router on eth0 is")) << findingSentence(*dr);
  EXPECT_TRUE(says(*dr, "the designated router is " + heard));
  EXPECT_TRUE(says(*dr, "But 10.0.1.5 answered the ping of the all-PIM-routers group"));

  // Every replier said Hello: the finding is as it always was, without the key.
  const auto usual = find(diagnosisOf(passOn(network)), "pim-dr");
  ASSERT_TRUE(usual.has_value());
  EXPECT_FALSE(evidenceOf(*usual).contains("unheard_repliers"));
  EXPECT_TRUE(says(*usual, "The PIM designated router on eth0 is " + heard));
}

}  // namespace
