// Reading the host's own multicast settings: which setting is in force where
// the kernel reads both the interface's and "all"'s, and the IGMP mode
// /proc/net/igmp shows.
#include "net/host_state.h"

#include <gtest/gtest.h>

namespace {

using net::forcedIgmpVersionIn;
using net::igmpModeIn;
using net::reversePathFilterIn;

TEST(HostState, ForcedIgmpVersionIsTheLowestEitherSettingForces) {
  EXPECT_FALSE(forcedIgmpVersionIn("eth0", 0, 0).has_value());
  EXPECT_FALSE(forcedIgmpVersionIn("eth0", std::nullopt, std::nullopt).has_value());
  const auto own = forcedIgmpVersionIn("eth0", 0, 2);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->name, "net.ipv4.conf.eth0.force_igmp_version");
  EXPECT_EQ(own->value, 2);
  const auto all = forcedIgmpVersionIn("eth0", 2, 3);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->name, "net.ipv4.conf.all.force_igmp_version") << "2 in all wins over 3";
  EXPECT_EQ(all->value, 2);
  EXPECT_EQ(forcedIgmpVersionIn("eth0", 2, 1)->value, 1);
  EXPECT_EQ(forcedIgmpVersionIn("eth0", 3, 0)->value, 3);
}

TEST(HostState, ForcedMldVersionIsAllsWhenSetElseTheInterfaces) {
  EXPECT_FALSE(net::forcedMldVersionIn("eth0", 0, 0).has_value());
  EXPECT_FALSE(net::forcedMldVersionIn("eth0", std::nullopt, std::nullopt).has_value());
  const auto all = net::forcedMldVersionIn("eth0", 2, 1);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->name, "net.ipv6.conf.all.force_mld_version") << "all wins even over a lower 1";
  EXPECT_EQ(all->value, 2);
  const auto own = net::forcedMldVersionIn("eth0", 0, 1);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->name, "net.ipv6.conf.eth0.force_mld_version");
  EXPECT_EQ(own->value, 1);
}

TEST(HostState, ReversePathFilterIsTheLargerSetting) {
  EXPECT_FALSE(reversePathFilterIn("eth0", std::nullopt, std::nullopt).has_value());
  EXPECT_EQ(reversePathFilterIn("eth0", 0, 1)->name, "net.ipv4.conf.eth0.rp_filter");
  EXPECT_EQ(reversePathFilterIn("eth0", 1, 0)->name, "net.ipv4.conf.all.rp_filter");
  EXPECT_EQ(reversePathFilterIn("eth0", 2, 1)->value, 2);
  EXPECT_EQ(reversePathFilterIn("eth0", 0, 0)->value, 0);
}

// /proc/net/igmp as Linux 6 writes it: an interface's line, then its groups.
constexpr const char* kProcNetIgmp =
    "Idx\tDevice    : Count Querier\tGroup    Users Timer\tReporter\n"
    "1\tlo        :     1      V3\n"
    "\t\t\t\t010000E0     1 0:00000000\t\t0\n"
    "2\teth0      :     3      V2\n"
    "\t\t\t\t138404E9     1 0:00000000\t\t0\n"
    "12\teth1      :     1      V3\n";

TEST(HostState, IgmpModeIsReadFromTheInterfacesOwnLine) {
  EXPECT_EQ(igmpModeIn(kProcNetIgmp, 2), 2);
  EXPECT_EQ(igmpModeIn(kProcNetIgmp, 1), 3);
  EXPECT_EQ(igmpModeIn(kProcNetIgmp, 12), 3) << "not index 1's line read as 12's";
  EXPECT_FALSE(igmpModeIn(kProcNetIgmp, 3).has_value());
  EXPECT_FALSE(igmpModeIn("", 2).has_value());
  EXPECT_FALSE(igmpModeIn("2\teth0      :     3\n", 2).has_value()) << "a line cut short";
}

}  // namespace
