#include "probes/mld_messages.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <vector>

#include "net/address.h"
#include "net/packet/checksum.h"
#include "net/packet/wire.h"
#include "probes/igmp_messages.h"
#include "tests/unit/datagram_builder.h"
#include "tests/unit/ipv6_captures.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace captures = ipv6_captures;

const net::Address kAsmGroup = *net::Address::parseV6("ff3e:20:2001:db8::19");
const net::Address kSsmGroup = *net::Address::parseV6("ff3e::120");
const net::Address kSource = *net::Address::parseV6("2001:db8::20");
const net::Address kHost = *net::Address::parseV6("fe80::2");
const net::Address kRouter = *net::Address::parseV6("fe80::1");
const net::Address kNoGroup = *net::Address::parseV6("::");

// The vectors are scapy's (ICMPv6MLReport, ICMPv6MLDone, ICMPv6MLReport2 with
// one ICMPv6MLDMultAddrRec), built with cksum=0, not this tool's.
TEST(MldMessages, V1ReportAndDoneAreByteExact) {
  const std::array<std::uint8_t, 24> report{
      0x83, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // Report, delay 0
      0xFF, 0x3E, 0x00, 0x20, 0x20, 0x01, 0x0D, 0xB8,  // ff3e:20:2001:db8::19
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x19};
  EXPECT_EQ(mldV1Report(kAsmGroup), report);
  auto done = report;
  done[0] = 0x84;
  EXPECT_EQ(mldV1Done(kAsmGroup), done);
}

TEST(MldMessages, V2ReportCarriesOneSourceRecord) {
  const std::array<std::uint8_t, 44> allow{
      0x8F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,  // type 143, one record
      0x05, 0x00, 0x00, 0x01,                          // ALLOW_NEW_SOURCES, 1 source
      0xFF, 0x3E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // ff3e::120
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x20,  //
      0x20, 0x01, 0x0D, 0xB8, 0x00, 0x00, 0x00, 0x00,  // 2001:db8::20
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20};
  EXPECT_EQ(mldV2Report(kSsmGroup, kSource, kMldV2AllowNewSources), allow);
  auto block = allow;
  block[8] = 0x06;
  EXPECT_EQ(mldV2Report(kSsmGroup, kSource, kMldV2BlockOldSources), block);
}

// The message once the kernel has put in its checksum over the IPv6
// pseudo-header, as it leaves on the wire.
Bytes asSent(std::span<const std::uint8_t> message, const net::Address& destination) {
  Bytes sent(message.begin(), message.end());
  net::putBe16(sent, 2, net::internetChecksum(sent, net::PseudoHeader{kHost, destination, 58}));
  return sent;
}

// What follows the 48 bytes of IPv6 and hop-by-hop headers in scapy's capture.
Bytes messageOf(const Bytes& capture) { return {capture.begin() + 48, capture.end()}; }

TEST(MldMessages, WithTheKernelsChecksumTheyAreWhatScapySends) {
  const auto allRouters = *net::Address::parseV6("ff02::2");
  const auto mldV2Routers = *net::Address::parseV6("ff02::16");
  EXPECT_EQ(asSent(mldV1Report(kAsmGroup), kAsmGroup), messageOf(captures::kMldv1ReportRa));
  EXPECT_EQ(asSent(mldV1Done(kAsmGroup), allRouters), messageOf(captures::kMldv1DoneRa));
  EXPECT_EQ(asSent(mldV2Report(kSsmGroup, kSource, kMldV2AllowNewSources), mldV2Routers),
            messageOf(captures::kMldv2ReportAllowRa));
  EXPECT_EQ(asSent(mldV2Report(kSsmGroup, kSource, kMldV2BlockOldSources), mldV2Routers),
            messageOf(captures::kMldv2ReportBlockRa));
}

TEST(MldMessages, Ipv4AddressesAreRefusedRatherThanHalfWritten) {
  const auto v4Group = *net::Address::parseV4("233.4.200.19");
  EXPECT_THROW(mldV1Report(v4Group), std::invalid_argument);
  EXPECT_THROW(mldV1Done(v4Group), std::invalid_argument);
  EXPECT_THROW(mldV2Report(v4Group, kSource, kMldV2AllowNewSources), std::invalid_argument);
  EXPECT_THROW(
      mldV2Report(kSsmGroup, *net::Address::parseV4("198.51.100.20"), kMldV2AllowNewSources),
      std::invalid_argument);
}

TEST(MldMessages, V2QueriesFromScapyAreReadWhole) {
  const auto general = readMldQuery(captures::kMldv2GeneralQueryRa);
  ASSERT_TRUE(general);
  EXPECT_EQ(general->version, 2);
  EXPECT_EQ(general->sender, kRouter);
  EXPECT_EQ(general->destination, *net::Address::parseV6("ff02::1"));
  EXPECT_EQ(general->group, kNoGroup);
  EXPECT_EQ(general->maxResponseMs, 10000U);
  EXPECT_EQ(general->robustness, 2);
  EXPECT_EQ(general->queryIntervalSeconds, 125U);
  EXPECT_EQ(general->sourceCount, 0);
  EXPECT_TRUE(general->sources.empty());
  EXPECT_TRUE(asksAbout(*general, kAsmGroup));

  const auto group = readMldQuery(captures::kMldv2GroupQueryRa);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->group, kAsmGroup);
  EXPECT_EQ(group->maxResponseMs, 1000U);
  EXPECT_TRUE(asksAbout(*group, kAsmGroup));
  EXPECT_FALSE(asksAbout(*group, kSsmGroup));

  const auto channel = readMldQuery(captures::kMldv2GroupSourceQueryRa);
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->group, kSsmGroup);
  EXPECT_EQ(channel->sourceCount, 1);
  EXPECT_EQ(channel->sources, std::vector<net::Address>{kSource});

  // Behind destination options and a routing header, the same query.
  const auto behind = readMldQuery(captures::kMldv2QueryDstoptsRouting);
  ASSERT_TRUE(behind);
  EXPECT_EQ(behind->group, kAsmGroup);
  EXPECT_EQ(behind->queryIntervalSeconds, 125U);
}

TEST(MldMessages, FloatingPointCodesAndSourceBounds) {
  // Maximum Response Code 0xA123: exp 2, mant 0x123, (0x1123 << 5) ms;
  // QQIC 0x8F: exp 0, mant 15, (0x1F << 3) s.
  const auto coded = readMldQuery(captures::kMldv2QueryCoded20Sources);
  ASSERT_TRUE(coded);
  EXPECT_EQ(coded->maxResponseMs, 140384U);
  EXPECT_EQ(coded->queryIntervalSeconds, 248U);
  EXPECT_EQ(coded->robustness, 7) << "the S flag is not part of QRV";
  EXPECT_EQ(coded->sourceCount, 20);
  ASSERT_EQ(coded->sources.size(), kMaxQuerySourcesKept);
  EXPECT_EQ(coded->sources.front(), *net::Address::parseV6("2001:db8::1"));
  EXPECT_EQ(coded->sources.back(), *net::Address::parseV6("2001:db8::10"));

  // The first fragment holds 7 sources and 4 bytes of the 8th.
  const auto first = readMldQuery(captures::kMldv2QueryFirstFragment);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->sourceCount, 20);
  EXPECT_EQ(first->sources.size(), 7U);
  EXPECT_FALSE(readMldQuery(captures::kMldv2QueryLaterFragment));
  EXPECT_FALSE(readMldQuery(captures::kMldv2QueryLookalikeLaterFragment));

  // RFC 3810 5.1.3's edges: linear below 32768, then the largest codes.
  EXPECT_EQ(mldV2MaxResponseMs(0), 0U);
  EXPECT_EQ(mldV2MaxResponseMs(32767), 32767U);
  EXPECT_EQ(mldV2MaxResponseMs(0x8000), 0x1000U << 3U);
  EXPECT_EQ(mldV2MaxResponseMs(0xFFFF), 0x1FFFU << 10U);
}

TEST(MldMessages, V1QueriesCarryTheirDelayInMilliseconds) {
  const auto general = readMldQuery(captures::kMldv1GeneralQueryRa);
  ASSERT_TRUE(general);
  EXPECT_EQ(general->version, 1);
  EXPECT_EQ(general->maxResponseMs, 10000U);
  EXPECT_EQ(general->group, kNoGroup);
  EXPECT_FALSE(general->robustness);
  EXPECT_FALSE(general->queryIntervalSeconds);
  EXPECT_TRUE(general->sources.empty());

  // No Router Alert: the reader leaves that judgement to its callers.
  const auto group = readMldQuery(captures::kMldv1GroupQuery);
  ASSERT_TRUE(group);
  EXPECT_EQ(group->group, kAsmGroup);
  EXPECT_EQ(group->maxResponseMs, 1000U);
  // Link padding would make it 28 bytes long, an MLDv2 query; it is not.
  Bytes padded = captures::kMldv1GroupQuery;
  padded.resize(padded.size() + 4, 0);
  ASSERT_TRUE(readMldQuery(padded));
  EXPECT_EQ(readMldQuery(padded)->version, 1);
}

TEST(MldMessages, QueriesOfOtherLengthsAreIgnored) {
  EXPECT_FALSE(readMldQuery(captures::kMldQuery26Bytes));
  // The general query's payload length shortened, the rest left as padding:
  // 0 to 27 bytes of query, none but 24 a length RFC 3810 8.1 reads.
  for (std::uint8_t declared = 8; declared < 36; ++declared) {
    Bytes shortened = captures::kMldv2GeneralQueryRa;
    shortened[5] = declared;
    EXPECT_EQ(readMldQuery(shortened).has_value(), declared == 8 + 24) << int{declared} - 8;
  }
  // Cut by what arrived: nothing below 24 bytes of query, nor at 25 to 27.
  const Bytes& whole = captures::kMldv2GeneralQueryRa;
  for (std::size_t length = 0; length < whole.size(); ++length) {
    if (length == 48 + 24) continue;  // by its length, an MLDv1 query
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_FALSE(readMldQuery(cut)) << length << " bytes";
  }
}

TEST(MldMessages, ReportsEchoesOtherProtocolsAndIgmpAreNoMldQueries) {
  for (const Bytes* other :
       {&captures::kMldv1ReportRa, &captures::kMldv1DoneRa, &captures::kMldv2ReportAllowRa,
        &captures::kMldv2ReportBlockRa, &captures::kEchoReply, &captures::kEchoRequest,
        &captures::kPimHello, &captures::kUdpQueryLookalike, &captures::kMldv2QueryNoNextHeader,
        &captures::kMldv2Query9ExtensionHeaders, &captures::kMldv2QueryHopByHopSecond}) {
    EXPECT_FALSE(readMldQuery(*other));
  }
  // An IGMPv3 query is IPv4's; an MLD query is no IGMP query.
  const auto igmpQuery =
      testing_support::ipv4Datagram(2, {0x11, 100, 0, 0, 0, 0, 0, 0, 0x02, 125, 0, 0}, 1);
  ASSERT_TRUE(readMembershipQuery(igmpQuery));
  EXPECT_FALSE(readMldQuery(igmpQuery));
  EXPECT_FALSE(readMembershipQuery(captures::kMldv2GeneralQueryRa));
  EXPECT_FALSE(readMembershipQuery(captures::kMldv1GeneralQueryRa));
}

}  // namespace
