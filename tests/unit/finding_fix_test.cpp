// The fix a finding names: which box, which setting, chosen by the evidence.
// The exact words of every rule's fix are pinned in finding_golden.h; here,
// the choices a fix makes between remedies.
#include "app/finding_fix.h"

#include <gtest/gtest.h>

#include <string>

namespace {

net::Address v4(const char* text) { return *net::Address::parseV4(text); }
net::Address v6(const char* text) { return *net::Address::parseV6(text); }

Finding finding(FindingId id, Severity severity, Evidence evidence, const char* family = "ipv4") {
  evidence.add("family", family);
  return Finding{id, severity, std::move(evidence), ""};
}

std::string fixOf(const Finding& found) {
  const auto fix = findingFix(found);
  if (!fix) throw std::runtime_error("no fix");
  return *fix;
}

bool says(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

Evidence forcedSetting(const char* name, int value) {
  Evidence evidence;
  evidence.add("setting", name).add("value", value).add("interface", "eth0", Shown::SentenceOnly);
  return evidence;
}

TEST(FindingFix, InformationHasNoneWhateverItsId) {
  // A rule may call what is usually a problem information (a setting that
  // holds the host to the newest version, a silence too short to judge).
  EXPECT_FALSE(
      findingFix(finding(FindingId::HostMldVersionForced, Severity::Info,
                         forcedSetting("net.ipv6.conf.all.force_mld_version", 2), "ipv6")));
  EXPECT_FALSE(findingFix(
      finding(FindingId::NoQuerier, Severity::Info, Evidence().add("interface", "eth0"))));
  EXPECT_TRUE(findingFix(
      finding(FindingId::NoQuerier, Severity::Warning, Evidence().add("interface", "eth0"))));
}

TEST(FindingFix, ForcedVersionMendsTheSettingOrTheOldQuerier) {
  const std::string older =
      fixOf(finding(FindingId::HostIgmpVersionForced, Severity::Problem,
                    forcedSetting("net.ipv4.conf.eth0.force_igmp_version", 2)));
  EXPECT_TRUE(says(older, "`sysctl -w net.ipv4.conf.eth0.force_igmp_version=0`")) << older;
  EXPECT_FALSE(says(older, "querier")) << older;

  // Held to MLDv2 beside an MLDv1 querier: the host no longer answers it.
  const std::string newest =
      fixOf(finding(FindingId::HostMldVersionForced, Severity::Problem,
                    forcedSetting("net.ipv6.conf.all.force_mld_version", 2), "ipv6"));
  EXPECT_TRUE(says(newest, "`sysctl -w net.ipv6.conf.all.force_mld_version=0`")) << newest;
  EXPECT_TRUE(says(newest, "`ipv6 mld version 2`")) << newest;
}

TEST(FindingFix, MultipleQueriersNamesTheOnesThatShouldFallSilent) {
  const std::string fix = fixOf(finding(
      FindingId::MultipleQueriers, Severity::Warning,
      Evidence()
          .add("sources", std::vector<net::Address>{v4("10.0.1.1"), v4("10.0.1.3"), v4("10.0.1.7")})
          .add("elected", v4("10.0.1.1"))
          .add("versions", EvidenceList{EvidenceValue{3}, EvidenceValue{3}, EvidenceValue{3}})));
  EXPECT_TRUE(says(fix, "Make 10.0.1.3 and 10.0.1.7 hear 10.0.1.1's queries")) << fix;
  EXPECT_TRUE(says(fix, "IGMP version")) << fix;
  // Queriers of different versions each keep querying: one version first.
  const std::string mixed =
      fixOf(finding(FindingId::MultipleQueriers, Severity::Warning,
                    Evidence()
                        .add("sources", std::vector<net::Address>{v4("10.0.1.1"), v4("10.0.1.3")})
                        .add("elected", v4("10.0.1.1"))
                        .add("versions", EvidenceList{EvidenceValue{3}, EvidenceValue{2}})));
  EXPECT_TRUE(says(mixed, "Set every querier of this link to one version, IGMPv3")) << mixed;
  EXPECT_TRUE(says(mixed, "then 10.0.1.3 hear 10.0.1.1's queries")) << mixed;
}

TEST(FindingFix, SwitchQuerierDependsOnWhoElseQueriesAndTheFamily) {
  const auto switchQuerier = [](std::vector<net::Address> routers, bool onIpv6) {
    return fixOf(
        finding(FindingId::SwitchQuerier, Severity::Warning,
                Evidence()
                    .add("source", net::anyAddress(onIpv6 ? net::Family::V6 : net::Family::V4))
                    .add("router_queriers", routers),
                onIpv6 ? "ipv6" : "ipv4"));
  };
  const std::string besideRouter = switchQuerier({v4("10.0.1.1")}, false);
  EXPECT_TRUE(says(besideRouter, "`mcast_querier 0`")) << besideRouter;
  EXPECT_TRUE(says(besideRouter, "10.0.1.1 queries the link already")) << besideRouter;

  const std::string alone = switchQuerier({}, false);
  EXPECT_TRUE(says(alone, "`ip igmp`")) << alone;
  EXPECT_FALSE(says(alone, "`mcast_querier 0`")) << alone;

  // Hosts discard queries from ::, so a switch's alone serves nobody.
  const std::string aloneOnIpv6 = switchQuerier({}, true);
  EXPECT_TRUE(says(aloneOnIpv6, "`ipv6 mld`")) << aloneOnIpv6;
  EXPECT_TRUE(says(aloneOnIpv6, "link-local")) << aloneOnIpv6;

  EXPECT_TRUE(says(switchQuerier({v6("fe80::1")}, true), "fe80::1 queries the link already"));
}

TEST(FindingFix, DroppedBeaconsGetTheRemedyOfTheirOwnCause) {
  const auto beacon = [](const char* name, const char* group, int port, const char* cause) {
    return EvidenceValue(Evidence()
                             .add("beacon", name)
                             .add("group", v4(group))
                             .add("port", port)
                             .add("senders", std::vector<net::Address>{v4("198.51.100.20")})
                             .add("cause", cause));
  };
  const auto dropped = [](EvidenceList beacons, int filter = 1) {
    return fixOf(finding(
        FindingId::HostDropsBeacon, Severity::Problem,
        Evidence()
            .add("interface", "eth0")
            .add("beacons", std::move(beacons))
            .add("rp_filter",
                 Evidence().add("setting", "net.ipv4.conf.all.rp_filter").add("value", filter))));
  };
  const std::string filtered = dropped({beacon("ASM", "233.4.200.19", 10002, "rp_filter"),
                                        beacon("SSM", "232.64.133.120", 8020, "rp_filter")});
  EXPECT_TRUE(says(filtered, "`sysctl -w net.ipv4.conf.all.rp_filter=2`")) << filtered;
  EXPECT_TRUE(says(filtered, "make the route to 198.51.100.20 leave by eth0")) << filtered;
  EXPECT_FALSE(says(filtered, "firewall")) << filtered;
  EXPECT_FALSE(says(filtered, "198.51.100.20 and 198.51.100.20")) << filtered;

  // Loose filtering drops only what no route leads back to: loosening is no fix.
  const std::string loose = dropped({beacon("ASM", "233.4.200.19", 10002, "rp_filter")}, 2);
  EXPECT_TRUE(says(loose, "a route back to 198.51.100.20")) << loose;
  EXPECT_FALSE(says(loose, "rp_filter=2")) << loose;

  const std::string both = dropped({beacon("ASM", "233.4.200.19", 10002, "rp_filter"),
                                    beacon("SSM", "232.64.133.120", 8020, "unknown")});
  EXPECT_TRUE(says(both, "rp_filter=2")) << both;
  EXPECT_TRUE(says(both, "UDP to 232.64.133.120 port 8020 on the host")) << both;
  EXPECT_FALSE(says(both, "233.4.200.19")) << both;
}

}  // namespace
