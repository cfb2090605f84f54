#include "net/address.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "net/platform.h"

namespace {

using net::Address;
using net::Family;

Address v6(std::string_view text) {
  const auto parsed = Address::parseV6(text);
  EXPECT_TRUE(parsed.has_value()) << '"' << text << '"';
  return parsed.value_or(Address{});
}

// The eight 16-bit groups of an IPv6 address.
std::array<std::uint16_t, 8> groupsOf(const Address& address) {
  std::array<std::uint16_t, 8> groups{};
  const auto bytes = address.bytes();
  for (std::size_t i = 0; i < groups.size() && 2 * i + 1 < bytes.size(); ++i) {
    groups[i] = static_cast<std::uint16_t>(bytes[2 * i] << 8U | bytes[2 * i + 1]);
  }
  return groups;
}

using Groups = std::array<std::uint16_t, 8>;

TEST(AddressV4, DottedQuadsParseToTheirNumber) {
  EXPECT_EQ(Address::parseV4("233.4.200.19"), Address::v4(0xE904C813U));
  EXPECT_EQ(Address::parseV4("0.0.0.0"), Address::v4(0U));
  EXPECT_EQ(Address::parseV4("255.255.255.255"), Address::v4(0xFFFFFFFFU));
  EXPECT_EQ(Address::parseV4("10.0.100.9"), Address::v4(0x0A006409U));
  const Address parsed = *Address::parseV4("198.51.100.20");
  EXPECT_EQ(parsed.family(), Family::V4);
  EXPECT_EQ(parsed.bytes().size(), 4U);
  EXPECT_EQ(parsed.bytes()[0], 198);
  EXPECT_EQ(parsed.bytes()[3], 20);
}

TEST(AddressV4, AnythingButFourPlainDecimalsIsRefused) {
  for (const std::string_view bad :
       {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.256", "1000.1.1.1", "10.1",
        // Leading zeros read as octal in some parsers.
        "1.2.3.04", "01.2.3.4", "00.1.1.1", "1.2.3.00",
        // Signs, blanks and other bases.
        "+1.2.3.4", "1.2.3.+4", "1.2.3.-4", "-1.2.3.4", " 1.2.3.4", "1.2.3.4 ", "1.2. 3.4",
        "1.2.3.4\n", "0x1.2.3.4", "1.2.3.0x4", "1.2.3.4e0",
        // Empty parts, stray separators, ports, prefixes and IPv6.
        "1..2.3", ".1.2.3.4", "1.2.3.4.", "1.2.3.4:80", "1.2.3.4/24", "::1", "::ffff:1.2.3.4",
        "not an address"}) {
    EXPECT_FALSE(Address::parseV4(bad)) << '"' << bad << '"';
  }
  // A NUL inside the text is no end of it.
  EXPECT_FALSE(Address::parseV4(std::string_view("1.2.3.4\0", 8)));
  EXPECT_FALSE(Address::parseV4(std::string_view("1.2\0.3.4", 8)));
}

TEST(AddressV4, TextIsTheDottedQuadWithoutLeadingZeros) {
  EXPECT_EQ(Address::v4(0x0A000001U).toString(), "10.0.0.1");
  EXPECT_EQ(Address{}.toString(), "0.0.0.0");
  EXPECT_EQ(Address::v4(0xFFFFFFFFU).toString(), "255.255.255.255");
  EXPECT_EQ(Address::parseV4("233.4.200.19")->toString(), "233.4.200.19");
  EXPECT_EQ(net::kAllRoutersGroup.toString(), "224.0.0.2");
  EXPECT_EQ(net::kIgmpV3RoutersGroup.toString(), "224.0.0.22");
  EXPECT_EQ(net::kAllPimRoutersGroup.toString(), "224.0.0.13");
}

TEST(AddressV6, EveryTextFormGivesItsGroups) {
  EXPECT_EQ(groupsOf(v6("::")), (Groups{0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(groupsOf(v6("::1")), (Groups{0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(groupsOf(v6("1::")), (Groups{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(groupsOf(v6("2001:db8::1")), (Groups{0x2001, 0xDB8, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(groupsOf(v6("2001:0DB8:0000:0000:0000:0000:0000:0001")),
            (Groups{0x2001, 0xDB8, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(groupsOf(v6("FF02::D")), (Groups{0xFF02, 0, 0, 0, 0, 0, 0, 0xD}));
  EXPECT_EQ(groupsOf(v6("1:2:3:4:5:6:7:8")), (Groups{1, 2, 3, 4, 5, 6, 7, 8}));
  // "::" may stand for a single group, at either end or inside.
  EXPECT_EQ(groupsOf(v6("1:2:3:4:5:6:7::")), (Groups{1, 2, 3, 4, 5, 6, 7, 0}));
  EXPECT_EQ(groupsOf(v6("::2:3:4:5:6:7:8")), (Groups{0, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(groupsOf(v6("1::3:4:5:6:7:8")), (Groups{1, 0, 3, 4, 5, 6, 7, 8}));
  // An IPv4 tail fills the last two groups.
  EXPECT_EQ(groupsOf(v6("::ffff:192.0.2.1")), (Groups{0, 0, 0, 0, 0, 0xFFFF, 0xC000, 0x0201}));
  EXPECT_EQ(groupsOf(v6("64:ff9b::192.0.2.33")), (Groups{0x64, 0xFF9B, 0, 0, 0, 0, 0xC000, 0x221}));
  EXPECT_EQ(groupsOf(v6("1:2:3:4:5:6:1.2.3.4")), (Groups{1, 2, 3, 4, 5, 6, 0x102, 0x304}));
  EXPECT_EQ(groupsOf(v6("::0.0.0.0")), (Groups{}));

  const Address parsed = v6("fe80::1");
  EXPECT_EQ(parsed.family(), Family::V6);
  EXPECT_EQ(parsed.bytes().size(), 16U);
  EXPECT_EQ(parsed.scopeId(), 0U);
}

TEST(AddressV6, MalformedTextsAreRefused) {
  for (const std::string_view bad :
       {"", ":", ":::", ":::1", "1:::2", "1::2::3", "::1::",
        // A single colon at either end.
        ":1:2:3:4:5:6:7", "1:2:3:4:5:6:7:", "1::2:",
        // Too few or too many groups, "::" standing for none.
        "1:2:3:4:5:6:7", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7:8::", "::1:2:3:4:5:6:7:8",
        "1:2:3:4:5:6:7::8",
        // Malformed groups.
        "12345::", "g::", "0x1::", "-1::", "+1::", " ::1", "::1 ", "[::1]", "fe80::1%eth0",
        "fe80::1/64",
        // Malformed IPv4 tails, or ones anywhere but at the end.
        "::1.2.3", "::1.2.3.256", "::01.2.3.4", "::1.2.3.4.5", "1.2.3.4::", "::1.2.3.4:5",
        "1.2.3.4", "1:2:3:4:5:6:7:1.2.3.4", "1:2:3:4:5:6::1.2.3.4"}) {
    EXPECT_FALSE(Address::parseV6(bad)) << '"' << bad << '"';
  }
}

TEST(AddressV6, TextIsTheRecommendedForm) {
  // Lowercase, no leading zeros, the longest run of zero groups as "::".
  EXPECT_EQ(v6("2001:0DB8:0000:0000:0000:0000:0000:0001").toString(), "2001:db8::1");
  EXPECT_EQ(v6("2001:0:0:1:0:0:0:1").toString(), "2001:0:0:1::1");
  EXPECT_EQ(v6("1:0:0:2:0:0:0:0").toString(), "1:0:0:2::");
  // Of equal runs, the first.
  EXPECT_EQ(v6("2001:db8:0:0:1:0:0:1").toString(), "2001:db8::1:0:0:1");
  // A single zero group stays a zero.
  EXPECT_EQ(v6("2001:db8:0:1:1:1:1:1").toString(), "2001:db8:0:1:1:1:1:1");
  EXPECT_EQ(v6("1:2:3:4:5:6:7:0").toString(), "1:2:3:4:5:6:7:0");
  EXPECT_EQ(v6("0:2:3:4:5:6:7:8").toString(), "0:2:3:4:5:6:7:8");
  EXPECT_EQ(v6("::").toString(), "::");
  EXPECT_EQ(v6("::1").toString(), "::1");
  EXPECT_EQ(v6("1::").toString(), "1::");
  EXPECT_EQ(v6("FF02:0:0:0:0:0:0:D").toString(), "ff02::d");
  EXPECT_EQ(v6("ABCD:EF01:2345:6789:ABCD:EF01:2345:6789").toString(),
            "abcd:ef01:2345:6789:abcd:ef01:2345:6789");
  EXPECT_EQ(net::anyAddress(Family::V6).toString(), "::");
  // Every text form reads back as the address it came from.
  for (const std::string_view text :
       {"2001:db8::1:0:0:1", "fe80::1", "1:0:0:2::", "::ffff:192.0.2.1", "1:2:3:4:5:6:7:0"}) {
    const Address address = v6(text);
    EXPECT_EQ(Address::parseV6(address.toString()), address) << text;
  }
}

TEST(Address, FromBytesTakesFourOrSixteen) {
  const std::array<std::uint8_t, 4> four{224, 0, 0, 13};
  EXPECT_EQ(Address::fromBytes(four), net::kAllPimRoutersGroup);
  std::array<std::uint8_t, 16> sixteen{};
  sixteen[0] = 0xFF;
  sixteen[1] = 0x02;
  sixteen[15] = 0x0D;
  EXPECT_EQ(Address::fromBytes(sixteen), v6("ff02::d"));
  const std::vector<std::uint8_t> other(16, 0);
  for (const std::size_t length : {0U, 3U, 5U, 15U}) {
    EXPECT_FALSE(Address::fromBytes(std::span(other).first(length))) << length;
  }
  const std::vector<std::uint8_t> seventeen(17, 0);
  EXPECT_FALSE(Address::fromBytes(seventeen));
}

TEST(Address, KindsOfAddress) {
  EXPECT_TRUE(Address::parseV4("224.0.0.0")->isMulticast());
  EXPECT_TRUE(Address::parseV4("239.255.255.255")->isMulticast());
  EXPECT_FALSE(Address::parseV4("223.255.255.255")->isMulticast());
  EXPECT_FALSE(Address::parseV4("240.0.0.0")->isMulticast());
  EXPECT_TRUE(v6("ff02::1").isMulticast());
  EXPECT_FALSE(v6("fe80::1").isMulticast());
  EXPECT_FALSE(v6("::ffff:224.0.0.1").isMulticast()) << "a mapped group is no IPv6 group";

  EXPECT_TRUE(Address{}.isUnspecified());
  EXPECT_TRUE(net::anyAddress(Family::V4).isUnspecified());
  EXPECT_TRUE(net::anyAddress(Family::V6).isUnspecified());
  EXPECT_FALSE(Address::parseV4("0.0.0.1")->isUnspecified());
  EXPECT_FALSE(v6("::1").isUnspecified());
}

TEST(Address, EqualityAndOrder) {
  EXPECT_EQ(*Address::parseV4("1.2.3.4"), Address::v4(0x01020304U));
  EXPECT_NE(*Address::parseV4("1.2.3.4"), Address::v4(0x01020305U));
  // The families' wildcards have the same bytes, and are not the same address.
  EXPECT_NE(net::anyAddress(Family::V4), net::anyAddress(Family::V6));
  EXPECT_NE(Address::v4(0x01020304U), v6("::1.2.3.4"));
  // A link-local address on another interface is another address.
  std::array<std::uint8_t, 16> linkLocal{0xFE, 0x80};
  linkLocal[15] = 1;
  EXPECT_EQ(Address::v6(linkLocal, 2), Address::v6(linkLocal, 2));
  EXPECT_NE(Address::v6(linkLocal, 2), Address::v6(linkLocal, 3));

  // Numeric within a family, and every IPv4 address before every IPv6 one.
  EXPECT_LT(*Address::parseV4("9.1.1.1"), *Address::parseV4("10.1.1.1"));
  EXPECT_LT(*Address::parseV4("10.1.1.1"), *Address::parseV4("10.1.1.10"));
  EXPECT_LT(*Address::parseV4("255.255.255.255"), v6("::"));
  EXPECT_LT(v6("::1"), v6("::2"));
  EXPECT_LT(v6("::ffff"), v6("1::"));

  // As a map's key, as the probes count senders by it.
  std::map<Address, int> counted;
  ++counted[*Address::parseV4("10.0.0.9")];
  ++counted[Address::v4(0x0A000009U)];
  ++counted[*Address::parseV4("10.0.0.10")];
  ++counted[v6("::a00:9")];
  EXPECT_EQ(counted.size(), 3U);
  EXPECT_EQ(counted.at(*Address::parseV4("10.0.0.9")), 2);

  const net::Endpoint endpoint{net::kAllRoutersGroup, 10002};
  EXPECT_EQ(endpoint, (net::Endpoint{Address::v4(0xE0000002U), 10002}));
  EXPECT_NE(endpoint, (net::Endpoint{net::kAllRoutersGroup, 10003}));
}

TEST(Address, OneParseReadsEitherFamilyAndANumericZone) {
  EXPECT_EQ(Address::parse("233.4.200.19"), Address::parseV4("233.4.200.19"));
  EXPECT_EQ(Address::parse("ff3e::120"), v6("ff3e::120"));
  // The mapped form stays IPv6: it is not the IPv4 address it stands for.
  const auto mapped = Address::parse("::ffff:192.0.2.1");
  ASSERT_TRUE(mapped);
  EXPECT_FALSE(mapped->isV4());
  EXPECT_TRUE(mapped->isV4Mapped());
  EXPECT_NE(*mapped, *Address::parseV4("192.0.2.1"));
  EXPECT_FALSE(v6("::192.0.2.1").isV4Mapped());
  EXPECT_FALSE(Address::parseV4("192.0.2.1")->isV4Mapped());

  const auto scoped = Address::parse("fe80::1%7");
  ASSERT_TRUE(scoped);
  EXPECT_EQ(scoped->scopeId(), 7U);
  EXPECT_EQ(*scoped, v6("fe80::1").withScope(7));
  EXPECT_EQ(Address::parse("fe80::1%4294967295")->scopeId(), 4294967295U);
  for (const std::string_view bad :
       {"", "%", "fe80::1%", "fe80::1%eth0", "fe80::1%-1", "fe80::1%+1", "fe80::1%1%2",
        "fe80::1%4294967296", "fe80::1% 1", "%1", "192.0.2.1%1", "1.2.3.4:80", "1.2.3.4/24",
        "[::1]", "::1/128", "garbage", "1.2.3", ":::"}) {
    EXPECT_FALSE(Address::parse(bad)) << '"' << bad << '"';
  }
  // The family-specific parses take no zone.
  EXPECT_FALSE(Address::parseV6("fe80::1%7"));
}

TEST(Address, LinkLocalInEitherFamily) {
  EXPECT_TRUE(Address::parseV4("169.254.0.0")->isLinkLocal());
  EXPECT_TRUE(Address::parseV4("169.254.255.255")->isLinkLocal());
  EXPECT_FALSE(Address::parseV4("169.253.255.255")->isLinkLocal());
  EXPECT_FALSE(Address::parseV4("169.255.0.0")->isLinkLocal());
  EXPECT_FALSE(Address::parseV4("224.0.0.2")->isLinkLocal()) << "a link-local group is a group";
  EXPECT_TRUE(v6("fe80::1").isLinkLocal());
  EXPECT_TRUE(v6("febf:ffff::1").isLinkLocal()) << "fe80::/10 ends at febf";
  EXPECT_TRUE(Address::parse("fe80::1%3")->isLinkLocal());
  EXPECT_FALSE(v6("fec0::1").isLinkLocal());
  EXPECT_FALSE(v6("fe7f::1").isLinkLocal());
  EXPECT_FALSE(v6("ff02::1").isLinkLocal());
  EXPECT_FALSE(v6("::ffff:169.254.1.1").isLinkLocal());
  EXPECT_FALSE(v6("2001:db8::1").isLinkLocal());
}

TEST(Prefix, MasksTheBitsPastItsLength) {
  const auto subnet = net::Prefix::of(*Address::parseV4("10.0.1.77"), 24);
  ASSERT_TRUE(subnet);
  EXPECT_EQ(subnet->toString(), "10.0.1.0/24");
  EXPECT_EQ(subnet->length(), 24);
  EXPECT_EQ(net::Prefix::of(*Address::parseV4("10.0.1.77"), 23)->toString(), "10.0.0.0/23");
  EXPECT_EQ(net::Prefix::of(*Address::parseV4("10.0.1.77"), 0)->toString(), "0.0.0.0/0");
  EXPECT_EQ(net::Prefix::of(*Address::parseV4("10.0.1.77"), 32)->toString(), "10.0.1.77/32");
  EXPECT_EQ(net::Prefix::of(*Address::parseV4("255.255.255.255"), 1)->toString(), "128.0.0.0/1");
  EXPECT_EQ(net::Prefix::of(*Address::parseV4("255.255.255.255"), 31)->toString(),
            "255.255.255.254/31");
  EXPECT_EQ(net::Prefix::of(v6("2001:db8:abcd:12::1"), 48)->toString(), "2001:db8:abcd::/48");
  EXPECT_EQ(net::Prefix::of(v6("2001:db8:abcd:12::1"), 61)->toString(), "2001:db8:abcd:10::/61");
  EXPECT_EQ(net::Prefix::of(v6("2001:db8::1"), 128)->toString(), "2001:db8::1/128");
  EXPECT_EQ(net::Prefix::of(v6("2001:db8::1"), 0)->toString(), "::/0");
  // Made from different hosts of the block, and from a scoped address: the same block.
  EXPECT_EQ(net::Prefix::of(*Address::parseV4("10.0.1.1"), 24), subnet);
  EXPECT_EQ(net::Prefix::of(v6("fe80::1").withScope(3), 64), net::Prefix::parse("fe80::/64"));

  EXPECT_FALSE(net::Prefix::of(*Address::parseV4("10.0.1.1"), 33));
  EXPECT_FALSE(net::Prefix::of(*Address::parseV4("10.0.1.1"), -1));
  EXPECT_FALSE(net::Prefix::of(v6("::1"), 129));
}

TEST(Prefix, ContainsOnlyItsOwnFamilysAddresses) {
  const auto subnet = *net::Prefix::parse("10.0.1.0/24");
  EXPECT_TRUE(subnet.contains(*Address::parseV4("10.0.1.0")));
  EXPECT_TRUE(subnet.contains(*Address::parseV4("10.0.1.255")));
  EXPECT_FALSE(subnet.contains(*Address::parseV4("10.0.2.0")));
  EXPECT_FALSE(subnet.contains(*Address::parseV4("10.0.0.255")));
  EXPECT_FALSE(subnet.contains(v6("::ffff:10.0.1.1"))) << "a mapped address is IPv6";

  const auto everything = *net::Prefix::parse("0.0.0.0/0");
  EXPECT_TRUE(everything.contains(*Address::parseV4("255.255.255.255")));
  EXPECT_TRUE(everything.contains(Address{}));
  EXPECT_FALSE(everything.contains(v6("::"))) << "/0 is all of one family, not of both";
  EXPECT_TRUE(net::Prefix::parse("::/0")->contains(v6("ffff::")));
  EXPECT_FALSE(net::Prefix::parse("::/0")->contains(*Address::parseV4("1.2.3.4")));

  const auto host = *net::Prefix::parse("192.0.2.1/32");
  EXPECT_TRUE(host.contains(*Address::parseV4("192.0.2.1")));
  EXPECT_FALSE(host.contains(*Address::parseV4("192.0.2.0")));
  const auto host6 = *net::Prefix::parse("2001:db8::1/128");
  EXPECT_TRUE(host6.contains(v6("2001:db8::1")));
  EXPECT_FALSE(host6.contains(v6("2001:db8::")));

  // The zone is not part of the address's bits.
  EXPECT_TRUE(net::Prefix::parse("fe80::/10")->contains(v6("febf::1").withScope(9)));
  EXPECT_TRUE(net::Prefix::parse("2000::/3")->contains(v6("3fff::1")));
  EXPECT_FALSE(net::Prefix::parse("2000::/3")->contains(v6("4000::1")));
}

TEST(Prefix, ParseRefusesWhatIsNotAddressSlashLength) {
  for (const std::string_view bad : {"",
                                     "/",
                                     "10.0.0.0",
                                     "10.0.0.0/",
                                     "/24",
                                     "10.0.0.0/33",
                                     "10.0.0.0/-1",
                                     "10.0.0.0/+8",
                                     "10.0.0.0/08",
                                     "10.0.0.0/8/8",
                                     "10.0.0.0/ 8",
                                     "10.0.0.0 /8",
                                     "10.0.0.0/8 ",
                                     "10.0.0/8",
                                     "10.0.0.0/0x8",
                                     "::/129",
                                     "::/1280",
                                     "fe80::1%2/64",
                                     "garbage/8",
                                     "10.0.0.0/255.0.0.0"}) {
    EXPECT_FALSE(net::Prefix::parse(bad)) << '"' << bad << '"';
  }
  EXPECT_EQ(net::Prefix::parse("10.0.0.0/0")->length(), 0);
  EXPECT_EQ(net::Prefix::parse("::/128")->length(), 128);
}

TEST(SocketAddress, EndpointsConvertBothWays) {
  const net::SocketAddress group = net::socketAddressOf(net::Endpoint{net::kAllPimRoutersGroup, 0});
  sockaddr_in v4{};
  ASSERT_EQ(group.length, sizeof v4);
  std::memcpy(&v4, &group.storage, sizeof v4);
  EXPECT_EQ(v4.sin_family, AF_INET);
  EXPECT_EQ(v4.sin_port, 0);
  EXPECT_EQ(v4.sin_addr.s_addr, htonl(0xE000000DU));
  EXPECT_EQ(net::endpointOf(net::socketAddressOf(net::Endpoint{net::kAllRoutersGroup, 10002})),
            (net::Endpoint{net::kAllRoutersGroup, 10002}));

  std::array<std::uint8_t, 16> linkLocal{0xFE, 0x80};
  linkLocal[15] = 1;
  const net::Endpoint scoped{Address::v6(linkLocal, 7), 8020};
  const net::SocketAddress native = net::socketAddressOf(scoped);
  sockaddr_in6 v6Native{};
  ASSERT_EQ(native.length, sizeof v6Native);
  std::memcpy(&v6Native, &native.storage, sizeof v6Native);
  EXPECT_EQ(v6Native.sin6_family, AF_INET6);
  EXPECT_EQ(v6Native.sin6_port, htons(8020));
  EXPECT_EQ(v6Native.sin6_scope_id, 7U);
  EXPECT_EQ(v6Native.sin6_addr.s6_addr[0], 0xFE);
  EXPECT_EQ(net::endpointOf(native), scoped);

  // A family the tool does not speak reads as nothing at all.
  net::SocketAddress unknown;
  unknown.storage.ss_family = AF_UNSPEC;
  EXPECT_EQ(net::endpointOf(unknown), net::Endpoint{});
  EXPECT_EQ(net::nativeFamily(Family::V4), AF_INET);
  EXPECT_EQ(net::nativeFamily(Family::V6), AF_INET6);
}

}  // namespace
