#include "probes/icmp_echo.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "net/address.h"
#include "net/packet/checksum.h"
#include "tests/unit/datagram_builder.h"
#include "tests/unit/ipv6_captures.h"

namespace {

using testing_support::ipv4Datagram;

TEST(IcmpEcho, RequestCarriesIdentifierAndSequenceLowByteFirst) {
  const auto request = echoRequest(0x1234, 0);
  EXPECT_EQ(request[0], 8);
  EXPECT_EQ(request[1], 0);
  EXPECT_EQ(request[4], 0x34);
  EXPECT_EQ(request[5], 0x12);
  EXPECT_EQ(request[6], 0);
  EXPECT_EQ(request[7], 0);
  EXPECT_EQ(net::internetChecksum(request), 0);
  // 08 00 ?? ?? 34 12 00 00: the words sum to 0x0800 + 0x3412 = 0x3C12.
  EXPECT_EQ(request[2], 0xC3);
  EXPECT_EQ(request[3], 0xED);

  const auto second = echoRequest(0x1234, 0x0201);
  EXPECT_EQ(second[6], 0x01);
  EXPECT_EQ(second[7], 0x02);
  EXPECT_EQ(net::internetChecksum(second), 0);
}

std::vector<std::uint8_t> echo(std::uint8_t type, std::uint8_t idLow, std::uint8_t idHigh,
                               std::uint8_t optionWords = 0,
                               std::vector<std::uint8_t> source = {10, 0, 1, 1}) {
  return ipv4Datagram(1, {type, 0, 0x12, 0x34, idLow, idHigh, 0, 0}, optionWords,
                      std::move(source));
}

bool counts(const std::vector<std::uint8_t>& datagram, std::uint16_t identifier) {
  return echoReplySender(datagram, identifier).has_value();
}

TEST(IcmpEcho, OnlyRepliesWithOurIdentifierMatch) {
  EXPECT_TRUE(counts(echo(0, 0x34, 0x12), 0x1234));
  EXPECT_FALSE(counts(echo(0, 0x12, 0x34), 0x1234)) << "identifier read big-endian";
  EXPECT_FALSE(counts(echo(0, 0x35, 0x12), 0x1234));
  EXPECT_FALSE(counts(echo(8, 0x34, 0x12), 0x1234)) << "our own looped request";
  EXPECT_FALSE(counts(echo(3, 0x34, 0x12), 0x1234));
  EXPECT_TRUE(counts(echo(0, 0x34, 0x12, 1), 0x1234)) << "IP options";
}

TEST(IcmpEcho, TheSenderIsTheDatagramsIpSource) {
  EXPECT_EQ(echoReplySender(echo(0, 0x34, 0x12, 0, {192, 0, 2, 77}), 0x1234),
            net::Address::v4(0xC000024DU));
  EXPECT_EQ(echoReplySender(echo(0, 0x34, 0x12, 2, {10, 0, 1, 1}), 0x1234),
            net::Address::v4(0x0A000101U));
}

TEST(IcmpEcho, IdentifierIsTheProcessIdsLowSixteenBits) {
  EXPECT_EQ(echoIdentifier(0x0012ABCD), 0xABCD);
  EXPECT_EQ(echoIdentifier(0xFFFF), 0xFFFF);
  EXPECT_EQ(echoIdentifier(0x10000), 0);
  // Two processes 65536 apart cannot be told apart; one apart they can.
  EXPECT_EQ(echoIdentifier(0x0001ABCD), echoIdentifier(0x0002ABCD));
  EXPECT_NE(echoIdentifier(0x0001ABCD), echoIdentifier(0x0001ABCE));

  const std::uint16_t identifier = echoIdentifier(0x0012ABCD);
  const auto request = echoRequest(identifier, 0);
  EXPECT_EQ(request[4], 0xCD);
  EXPECT_EQ(request[5], 0xAB);
  EXPECT_TRUE(counts(echo(0, 0xCD, 0xAB), identifier));
  EXPECT_FALSE(counts(echo(0, 0xCD, 0xAB), echoIdentifier(0x0012ABCE)))
      << "another process's reply";
}

TEST(IcmpEcho, RuntRepliesAndLaterFragmentsAreDropped) {
  const auto reply = echo(0, 0x34, 0x12);
  // Header plus type, code, checksum and identifier: 26 bytes are needed.
  for (std::size_t length = 0; length < 26; ++length) {
    const std::vector<std::uint8_t> runt(reply.begin(),
                                         reply.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(counts(runt, 0x1234)) << length << " bytes";
  }
  const std::vector<std::uint8_t> exact(reply.begin(), reply.begin() + 26);
  EXPECT_TRUE(counts(exact, 0x1234));
  // A later fragment's bytes only look like an ICMP header.
  auto later = reply;
  later[7] = 1;
  EXPECT_FALSE(counts(later, 0x1234));
}

// scapy's ICMPv6EchoRequest(id=0x3412, seq=...) with cksum=0: the kernel
// fills the checksum of a raw ICMPv6 socket in.
TEST(IcmpEcho, Ipv6RequestHasIpv4sByteOrderAndNoChecksum) {
  EXPECT_EQ(echoRequestV6(0x1234, 0),
            (std::array<std::uint8_t, 8>{0x80, 0x00, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00}));
  EXPECT_EQ(echoRequestV6(0x1234, 0x0201),
            (std::array<std::uint8_t, 8>{0x80, 0x00, 0x00, 0x00, 0x34, 0x12, 0x01, 0x02}));
}

TEST(IcmpEcho, Ipv6RepliesMatchByTypeProtocolAndIdentifier) {
  // scapy's reply carries identifier 4242 low byte first, as the request did.
  constexpr std::uint16_t kIdentifier = 4242;
  const auto router = *net::Address::parseV6("fe80::1");
  EXPECT_EQ(echoReplySender(ipv6_captures::kEchoReply, kIdentifier), router);
  EXPECT_EQ(echoReplySender(ipv6_captures::kEchoReplyDstopts, kIdentifier), router);
  EXPECT_FALSE(echoReplySender(ipv6_captures::kEchoReply, kIdentifier + 1));
  EXPECT_FALSE(echoReplySender(ipv6_captures::kEchoReply, 0x9210)) << "read big-endian";
  EXPECT_FALSE(echoReplySender(ipv6_captures::kEchoRequest, kIdentifier)) << "our own request";
  // Byte for byte a reply, but UDP; and type 0, IPv4's reply, in ICMPv6.
  EXPECT_FALSE(echoReplySender(ipv6_captures::kUdpQueryLookalike, kIdentifier));
  const std::vector<std::uint8_t> reply{129, 0, 0, 0, 0x92, 0x10, 0, 0};
  EXPECT_TRUE(echoReplySender(testing_support::ipv6Datagram(58, reply), kIdentifier));
  EXPECT_FALSE(echoReplySender(testing_support::ipv6Datagram(17, reply), kIdentifier));
  EXPECT_FALSE(echoReplySender(testing_support::ipv6Datagram(58, {0, 0, 0, 0, 0x92, 0x10, 0, 0}),
                               kIdentifier));
  // And ICMPv6's type in IPv4 is no reply either.
  EXPECT_FALSE(echoReplySender(ipv4Datagram(1, reply), kIdentifier));

  // A later fragment (offset 8) whose data looks like our reply.
  std::vector<std::uint8_t> fragment{58, 0, 0, 8, 0, 0, 0, 1};
  fragment.insert(fragment.end(), reply.begin(), reply.end());
  EXPECT_FALSE(echoReplySender(testing_support::ipv6Datagram(44, fragment), kIdentifier));
  fragment[3] = 1;  // offset 0, more to come
  EXPECT_TRUE(echoReplySender(testing_support::ipv6Datagram(44, fragment), kIdentifier));

  const auto& whole = ipv6_captures::kEchoReply;
  for (std::size_t length = 0; length < 46; ++length) {
    const std::vector<std::uint8_t> runt(whole.begin(),
                                         whole.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(echoReplySender(runt, kIdentifier)) << length << " bytes";
  }
  EXPECT_TRUE(echoReplySender({whole.begin(), whole.begin() + 46}, kIdentifier));
}

}  // namespace
