#include "net/held_groups.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>

namespace {

// As Linux 6.x prints them: the IPv4 group as the kernel's 32-bit word read
// on a little-endian host, the IPv6 group in network order.
constexpr const char* kIgmp =
    "Idx\tDevice    : Count Querier\tGroup    Users Timer\tReporter\n"
    "1\tlo        :     1      V3\n"
    "\t\t\t\t010000E0     1 0:00000000\t\t0\n"
    "4\th0        :     2      V3\n"
    "\t\t\t\t13C804E9     1 0:00000000\t\t0\n"
    "\t\t\t\t010000E0     1 0:00000000\t\t0\n"
    "5\th1        :     2      V2\n"
    "\t\t\t\t788540E8     1 0:00000000\t\t0\n";

constexpr const char* kIgmp6 =
    "1    lo              ff020000000000000000000000000001     1 0000000C 0\n"
    "4    h0              ff3e0000000000000000000000008000     1 00000004 0\n"
    "4    h0              ff020000000000000000000000000001     1 0000000C 0\n";

bool listed(const char* list, const char* group, const std::string& interfaceName) {
  const std::string text(group);
  const auto address = text.find(':') == std::string::npos ? net::Address::parseV4(text)
                                                           : net::Address::parseV6(text);
  EXPECT_TRUE(address.has_value()) << group;
  return net::groupListed(list, *address, interfaceName);
}

TEST(HeldGroups, Ipv4GroupsAreFoundOnTheirOwnInterfaceOnly) {
  if (std::endian::native != std::endian::little)
    GTEST_SKIP() << "the sample is a little-endian host's";
  EXPECT_TRUE(listed(kIgmp, "233.4.200.19", "h0"));
  EXPECT_TRUE(listed(kIgmp, "232.64.133.120", "h1"));
  EXPECT_FALSE(listed(kIgmp, "232.64.133.120", "h0")) << "held on another interface";
  EXPECT_TRUE(listed(kIgmp, "232.64.133.120", "")) << "any interface";
  EXPECT_FALSE(listed(kIgmp, "19.200.4.233", "h0")) << "the word's bytes turned";
  EXPECT_FALSE(listed(kIgmp, "233.4.200.19", "lo"));
}

TEST(HeldGroups, Ipv6GroupsAreFoundOnTheirOwnInterfaceOnly) {
  EXPECT_TRUE(listed(kIgmp6, "ff3e::8000", "h0"));
  EXPECT_FALSE(listed(kIgmp6, "ff3e::8000", "lo"));
  EXPECT_FALSE(listed(kIgmp6, "ff3e::8001", "h0"));
  EXPECT_TRUE(listed(kIgmp6, "ff02::1", "lo"));
}

TEST(HeldGroups, MangledListsHoldNothing) {
  EXPECT_FALSE(listed("", "233.4.200.19", ""));
  EXPECT_FALSE(listed("4\th0 :  1 V3\n\t\t\t\t13C804     1 0:0\t\t0\n", "233.4.200.19", ""));
  EXPECT_FALSE(listed("\t\t\t\tZZC804E9     1 0:0\t\t0\n", "233.4.200.19", ""));
  EXPECT_FALSE(
      listed("4    h0              ff3e00000000000000000000000080     1 0 0\n", "ff3e::8000", ""));
  EXPECT_FALSE(listed("4    h0              ff3e0000000000000000000000008g00     1 0 0\n",
                      "ff3e::8000", ""));
}

}  // namespace
