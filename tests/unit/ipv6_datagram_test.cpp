// The IPv6 side of net::parseDatagram, fed scapy's packets (tests/unit/ipv6_captures.h)
// and variations of them: the extension-header walk, fragments, Router Alert,
// runts and padding.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "net/address.h"
#include "net/packet/ip_datagram.h"
#include "tests/unit/datagram_builder.h"
#include "tests/unit/ipv6_captures.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_support::ipv6Datagram;
namespace captures = ipv6_captures;

constexpr std::uint8_t kIcmpv6 = 58;
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kDestinationOptions = 60;
constexpr std::uint8_t kFragment = 44;

// Where the message of a datagram begins, counted from its first byte.
std::ptrdiff_t payloadOffset(const Bytes& datagram) {
  const auto parsed = net::parseDatagram(datagram);
  if (!parsed) return -1;
  return parsed->payload.data() - datagram.data();
}

Bytes withFragmentField(Bytes datagram, std::size_t fragmentHeaderAt, std::uint16_t field) {
  datagram[fragmentHeaderAt + 2] = static_cast<std::uint8_t>(field >> 8U);
  datagram[fragmentHeaderAt + 3] = static_cast<std::uint8_t>(field & 0xFFU);
  return datagram;
}

TEST(Ipv6Datagram, HeaderFieldsRouterAlertAndTheMessageAfterTheHopByHopHeader) {
  const Bytes& query = captures::kMldv2GeneralQueryRa;
  const auto parsed = net::parseDatagram(query);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->family, net::Family::V6);
  EXPECT_EQ(parsed->protocol, kIcmpv6);
  EXPECT_EQ(parsed->hopLimit, 1);
  EXPECT_EQ(parsed->source, *net::Address::parseV6("fe80::1"));
  EXPECT_EQ(parsed->destination, *net::Address::parseV6("ff02::1"));
  EXPECT_EQ(parsed->routerAlert, 0);
  EXPECT_EQ(parsed->payload.data(), query.data() + 48);
  EXPECT_EQ(parsed->payload.size(), 28U);
  EXPECT_EQ(parsed->payload[0], 130);

  const auto plain = net::parseDatagram(captures::kMldv1GroupQuery);
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->routerAlert) << "no hop-by-hop header";
  EXPECT_EQ(plain->destination, *net::Address::parseV6("ff3e:20:2001:db8::19"));
  EXPECT_EQ(payloadOffset(captures::kMldv1GroupQuery), 40);

  const auto beacon = net::parseDatagram(captures::kUdpBeacon);
  ASSERT_TRUE(beacon);
  EXPECT_EQ(beacon->protocol, 17);
  EXPECT_EQ(beacon->hopLimit, 15);
  EXPECT_EQ(beacon->source, *net::Address::parseV6("2001:db8::20"));
}

TEST(Ipv6Datagram, TheWalkCrossesDestinationOptionsAndRoutingHeaders) {
  // Hop-by-hop 8 bytes, destination options 8, routing (one address) 24.
  const auto parsed = net::parseDatagram(captures::kMldv2QueryDstoptsRouting);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->protocol, kIcmpv6);
  EXPECT_EQ(parsed->routerAlert, 0);
  EXPECT_EQ(payloadOffset(captures::kMldv2QueryDstoptsRouting), 40 + 8 + 8 + 24);
  EXPECT_EQ(parsed->payload.size(), 28U);

  const auto reply = net::parseDatagram(captures::kEchoReplyDstopts);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->protocol, kIcmpv6);
  EXPECT_FALSE(reply->routerAlert) << "destination options are no hop-by-hop options";
  EXPECT_EQ(payloadOffset(captures::kEchoReplyDstopts), 48);

  // PIM is where the chain ends, whatever comes after.
  const auto pim = net::parseDatagram(captures::kPimHello);
  ASSERT_TRUE(pim);
  EXPECT_EQ(pim->protocol, 103);
}

TEST(Ipv6Datagram, ChainsGiveNothingWhenTheyAreTooLongOutOfOrderOrEndInNoNextHeader) {
  EXPECT_EQ(payloadOffset(captures::kMldv2Query8ExtensionHeaders), 40 + 8 * 8);
  EXPECT_FALSE(net::parseDatagram(captures::kMldv2Query9ExtensionHeaders));
  EXPECT_FALSE(net::parseDatagram(captures::kMldv2QueryHopByHopSecond))
      << "hop-by-hop must come first (RFC 8200 4.1)";
  EXPECT_FALSE(net::parseDatagram(captures::kMldv2QueryNoNextHeader));
  // No Next Header at the end of a chain, too.
  EXPECT_FALSE(net::parseDatagram(ipv6Datagram(kDestinationOptions, {59, 0, 1, 4, 0, 0, 0, 0})));
  // A header whose hop-by-hop header never arrived.
  EXPECT_FALSE(net::parseDatagram(captures::kHeaderOnly));
}

TEST(Ipv6Datagram, OnlyAtomicAndFirstFragmentsCarryAMessage) {
  const auto first = net::parseDatagram(captures::kMldv2QueryFirstFragment);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->protocol, kIcmpv6);
  EXPECT_EQ(first->routerAlert, 0) << "the hop-by-hop header before the fragment header";
  EXPECT_EQ(payloadOffset(captures::kMldv2QueryFirstFragment), 56);
  EXPECT_EQ(first->payload.size(), 144U);

  EXPECT_FALSE(net::parseDatagram(captures::kMldv2QueryLaterFragment));
  EXPECT_FALSE(net::parseDatagram(captures::kMldv2QueryLookalikeLaterFragment))
      << "its data begins with a whole query";
  // The fragment header of the later fragment is at 48 (after hop-by-hop),
  // of the look-alike at 40. Offset 0 with or without More Fragments reads;
  // any other offset, whatever the flag, does not.
  const Bytes& later = captures::kMldv2QueryLaterFragment;
  EXPECT_TRUE(net::parseDatagram(withFragmentField(later, 48, 0x0000))) << "atomic fragment";
  EXPECT_TRUE(net::parseDatagram(withFragmentField(later, 48, 0x0001))) << "first of several";
  EXPECT_TRUE(net::parseDatagram(withFragmentField(later, 48, 0x0006))) << "reserved bits";
  for (const std::uint16_t field :
       std::vector<std::uint16_t>{0x0008, 0x0009, 0xFFF8, 0xFFFF, 0x8000}) {
    EXPECT_FALSE(net::parseDatagram(withFragmentField(later, 48, field))) << std::hex << field;
  }
  const Bytes& lookalike = captures::kMldv2QueryLookalikeLaterFragment;
  // The parsed payload points into these bytes, which must outlive it.
  const Bytes unfragmentedBytes = withFragmentField(lookalike, 40, 0);
  const auto unfragmented = net::parseDatagram(unfragmentedBytes);
  ASSERT_TRUE(unfragmented);
  EXPECT_EQ(unfragmented->payload[0], 130);
  // A fragment header cut short is no header at all.
  EXPECT_FALSE(net::parseDatagram(ipv6Datagram(kFragment, {kIcmpv6, 0, 0, 0, 0, 0, 0})));
}

TEST(Ipv6Datagram, RunsCutAtAnyLengthNeverReadPastWhatArrived) {
  // Each capture cut at every length: nothing until its whole chain of
  // headers is there, then the message so far.
  const std::vector<std::pair<const Bytes*, std::size_t>> chains{
      {&captures::kMldv2GeneralQueryRa, 48},
      {&captures::kMldv2QueryDstoptsRouting, 80},
      {&captures::kMldv2QueryFirstFragment, 56},
      {&captures::kMldv2Query8ExtensionHeaders, 104},
      {&captures::kPimHello, 40}};
  for (const auto& [capture, headers] : chains) {
    for (std::size_t length = 0; length <= capture->size(); ++length) {
      const Bytes cut(capture->begin(), capture->begin() + static_cast<std::ptrdiff_t>(length));
      const auto parsed = net::parseDatagram(cut);
      ASSERT_EQ(parsed.has_value(), length >= headers) << length << " of " << capture->size();
      if (parsed) {
        EXPECT_EQ(parsed->payload.size(), length - headers);
      }
    }
  }
  EXPECT_FALSE(net::parseDatagram(captures::kCutInHopByHop));
}

TEST(Ipv6Datagram, ThePayloadLengthBoundsTheChainAndTheMessage) {
  // Link padding after the declared length is not the message's.
  Bytes padded = captures::kMldv1GroupQuery;
  padded.resize(padded.size() + 22, 0);
  ASSERT_TRUE(net::parseDatagram(padded));
  EXPECT_EQ(net::parseDatagram(padded)->payload.size(), 24U);

  // A payload length that ends inside the hop-by-hop header leaves no chain.
  Bytes shortened = captures::kMldv2GeneralQueryRa;
  for (const std::uint8_t declared : std::vector<std::uint8_t>{0, 1, 7}) {
    shortened[5] = declared;
    EXPECT_FALSE(net::parseDatagram(shortened)) << int{declared};
  }
  shortened[5] = 8;
  ASSERT_TRUE(net::parseDatagram(shortened));
  EXPECT_TRUE(net::parseDatagram(shortened)->payload.empty());
  shortened[5] = 20;
  EXPECT_EQ(net::parseDatagram(shortened)->payload.size(), 12U);

  // Declared longer than what arrived: a datagram cut to the buffer.
  Bytes declaredLong = captures::kMldv1GroupQuery;
  declaredLong[4] = 0x10;
  ASSERT_TRUE(net::parseDatagram(declaredLong));
  EXPECT_EQ(net::parseDatagram(declaredLong)->payload.size(), 24U);
  // An extension length that reaches past the datagram.
  Bytes longOptions = captures::kMldv2GeneralQueryRa;
  longOptions[41] = 4;  // 40 bytes of hop-by-hop header in a 36-byte payload
  EXPECT_FALSE(net::parseDatagram(longOptions));
}

// A hop-by-hop header whose options are `options` (6 bytes, padded to 8).
Bytes hopByHop(const std::vector<std::uint8_t>& options) {
  Bytes rest{kIcmpv6, 0};
  rest.insert(rest.end(), options.begin(), options.end());
  rest.insert(rest.end(), {128, 0, 0, 0, 0x34, 0x12, 0, 0});
  return ipv6Datagram(kHopByHop, rest);
}

TEST(Ipv6Datagram, RouterAlertIsReadAmongPaddingAndOnlyAtItsOwnLength) {
  EXPECT_EQ(net::parseDatagram(hopByHop({5, 2, 0, 0, 1, 0}))->routerAlert, 0);
  EXPECT_EQ(net::parseDatagram(hopByHop({5, 2, 0x12, 0x34, 0, 0}))->routerAlert, 0x1234);
  EXPECT_EQ(net::parseDatagram(hopByHop({0, 0, 5, 2, 0, 1}))->routerAlert, 1) << "after Pad1s";
  EXPECT_EQ(net::parseDatagram(hopByHop({1, 0, 5, 2, 0, 2}))->routerAlert, 2) << "after PadN";
  // PadN hides what looks like an option; a Router Alert of another length
  // is not one; an option running past the header ends the reading.
  for (const Bytes& options : {Bytes{1, 4, 5, 2, 0, 0}, Bytes{5, 3, 0, 0, 0, 0},
                               Bytes{1, 2, 0, 0, 5, 4}, Bytes{1, 0, 1, 0, 1, 0}}) {
    const auto parsed = net::parseDatagram(hopByHop(options));
    ASSERT_TRUE(parsed) << "a bad option costs the option, not the datagram";
    EXPECT_FALSE(parsed->routerAlert);
    EXPECT_EQ(parsed->protocol, kIcmpv6);
  }
}

}  // namespace
