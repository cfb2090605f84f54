#include "net/packet/ip_datagram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "tests/unit/datagram_builder.h"

namespace {

using testing_support::ipv4Datagram;

TEST(IpDatagram, HeaderFieldsAndThePayloadAtTheLengthItDeclares) {
  auto plain = ipv4Datagram(2, {0x11, 0x22}, 0, {10, 0, 1, 1});
  plain[8] = 64;  // TTL
  const auto parsed = net::parseDatagram(plain);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->family, net::Family::V4);
  EXPECT_EQ(parsed->protocol, 2);
  EXPECT_EQ(parsed->hopLimit, 64);
  EXPECT_EQ(parsed->source, net::Address::v4(0x0A000101U));
  EXPECT_EQ(parsed->destination, net::Address::v4(0xE0000001U));
  ASSERT_EQ(parsed->payload.size(), 2U);
  EXPECT_EQ(parsed->payload.data(), plain.data() + 20);

  // IP options (Router Alert): the payload begins after them.
  const auto withOptions = ipv4Datagram(103, {0x20}, 1);
  ASSERT_EQ(withOptions[0], 0x46);
  const auto parsedOptions = net::parseDatagram(withOptions);
  ASSERT_TRUE(parsedOptions);
  EXPECT_EQ(parsedOptions->payload.data(), withOptions.data() + 24);
  EXPECT_EQ(parsedOptions->payload.size(), 1U);
  const auto longest = ipv4Datagram(103, {0x20, 0x21}, 10);
  ASSERT_TRUE(net::parseDatagram(longest));
  EXPECT_EQ(net::parseDatagram(longest)->payload.data(), longest.data() + 60);

  // A header alone is a datagram with nothing in it.
  const auto headerOnly = ipv4Datagram(2, {});
  ASSERT_TRUE(net::parseDatagram(headerOnly));
  EXPECT_TRUE(net::parseDatagram(headerOnly)->payload.empty());
}

TEST(IpDatagram, RuntsAreRefused) {
  const auto whole = ipv4Datagram(2, {0x11, 0, 0, 0});
  for (std::size_t length = 0; length < 20; ++length) {
    EXPECT_FALSE(net::parseDatagram(std::span(whole).first(length))) << length << " bytes";
  }
  for (std::uint8_t headerWords = 0; headerWords < 5; ++headerWords) {
    auto bogus = ipv4Datagram(2, std::vector<std::uint8_t>(40, 0x11));
    bogus[0] = static_cast<std::uint8_t>(0x40U | headerWords);
    EXPECT_FALSE(net::parseDatagram(bogus)) << "header length " << headerWords * 4;
  }
  auto pastTheEnd = ipv4Datagram(2, {0x11, 0, 0, 0});
  pastTheEnd[0] = 0x4F;  // 60-byte header in a 24-byte datagram
  EXPECT_FALSE(net::parseDatagram(pastTheEnd));
  // Options cut short by the end of what arrived.
  const auto withOptions = ipv4Datagram(2, {}, 2);
  EXPECT_FALSE(net::parseDatagram(std::span(withOptions).first(27)));
  EXPECT_TRUE(net::parseDatagram(std::span(withOptions).first(28)));
}

TEST(IpDatagram, OnlyVersions4And6AreRead) {
  for (const std::uint8_t first : std::vector<std::uint8_t>{0x05, 0x35, 0x55, 0x75, 0xF5}) {
    auto other = ipv4Datagram(2, {0x11, 0, 0, 0, 0, 0, 0, 0});
    other[0] = first;
    EXPECT_FALSE(net::parseDatagram(other)) << std::hex << int{first};
  }
  // An IPv4 datagram whose version says 6 is too short for an IPv6 header.
  auto six = ipv4Datagram(2, {0x11, 0, 0, 0, 0, 0, 0, 0});
  six[0] = 0x65;
  EXPECT_FALSE(net::parseDatagram(six));
  // A bare IPv6 header with 8 bytes of PIM.
  std::vector<std::uint8_t> ipv6(48, 0);
  ipv6[0] = 0x60;
  ipv6[5] = 8;
  ipv6[6] = 103;
  const auto parsed = net::parseDatagram(ipv6);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->family, net::Family::V6);
  EXPECT_EQ(parsed->protocol, 103);
  EXPECT_EQ(parsed->payload.size(), 8U);
}

TEST(IpDatagram, LinkPaddingAfterTheDeclaredLengthIsNotPayload) {
  // An IGMP message cut to 4 bytes, padded with zeros to the Ethernet minimum:
  // read with the padding, it would be a general query.
  auto padded = ipv4Datagram(2, {0x11, 0x64, 0xEE, 0x9B});
  padded.resize(46, 0);
  const auto parsed = net::parseDatagram(padded);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->payload.size(), 4U);

  auto headerTooLong = ipv4Datagram(2, std::vector<std::uint8_t>(8, 0x11));
  headerTooLong[3] = 19;  // total length shorter than the header itself
  EXPECT_FALSE(net::parseDatagram(headerTooLong));
  headerTooLong[3] = 20;
  ASSERT_TRUE(net::parseDatagram(headerTooLong));
  EXPECT_TRUE(net::parseDatagram(headerTooLong)->payload.empty());
}

TEST(IpDatagram, DatagramCutToTheBufferKeepsWhatArrived) {
  auto cut = ipv4Datagram(17, std::vector<std::uint8_t>(100, 0x20));
  cut[2] = 0x13;  // declares 5000 bytes; 120 arrived
  cut[3] = 0x88;
  const auto parsed = net::parseDatagram(cut);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->payload.size(), 100U);
}

TEST(IpDatagram, OnlyTheFirstFragmentCarriesAMessageHeader) {
  auto first = ipv4Datagram(103, {0x20, 0, 0, 0});
  first[6] = 0x20;  // more fragments follow, offset 0
  EXPECT_TRUE(net::parseDatagram(first));
  for (const auto& [high, low] : {std::pair<std::uint8_t, std::uint8_t>{0x00, 0x01},
                                  {0x20, 0xB9},
                                  {0x1F, 0xFF},
                                  {0x40, 0x10}}) {
    auto later = ipv4Datagram(103, {0x20, 0, 0, 0});
    later[6] = high;
    later[7] = low;
    EXPECT_FALSE(net::parseDatagram(later)) << std::hex << int{high} << int{low};
  }
  auto dontFragment = ipv4Datagram(103, {0x20, 0, 0, 0});
  dontFragment[6] = 0x40;
  EXPECT_TRUE(net::parseDatagram(dontFragment));
}

TEST(IpDatagram, RouterAlertOptionIsReadAndABadOptionCostsOnlyItself) {
  const auto withOption = [](const std::vector<std::uint8_t>& options) {
    auto datagram =
        ipv4Datagram(2, {0x11, 0, 0, 0, 0, 0, 0, 0}, static_cast<std::uint8_t>(options.size() / 4));
    std::copy(options.begin(), options.end(), datagram.begin() + 20);
    return net::parseDatagram(datagram);
  };
  EXPECT_EQ(withOption({0x94, 4, 0, 0})->routerAlert, 0);
  EXPECT_EQ(withOption({1, 1, 1, 1, 0x94, 4, 0xAB, 0xCD})->routerAlert, 0xABCD) << "after NOPs";
  EXPECT_FALSE(withOption({})->routerAlert);
  EXPECT_FALSE(withOption({0, 0x94, 4, 0})->routerAlert) << "after End of Options";
  EXPECT_FALSE(withOption({0x94, 3, 0, 0})->routerAlert) << "wrong length";
  EXPECT_FALSE(withOption({0x94, 0x94, 0x94, 0x94})->routerAlert) << "runs past the header";
  // A malformed option never costs the datagram, as before.
  EXPECT_EQ(withOption({0x94, 0, 0, 0})->payload.size(), 8U);
  EXPECT_EQ(withOption({0x44, 4, 0, 0, 0x94, 4, 0, 7})->routerAlert, 7) << "after a timestamp";
}

}  // namespace

namespace {

// What a capture reads of a datagram before its reader parses it: the source
// that parsing finds, for every datagram that parses, and nothing for a
// header cut short or of another version.
TEST(IpDatagram, SourceAloneIsTheSourceParsingFinds) {
#ifdef CORVANITE_FUZZ_CORPUS  // the captures that read it are Linux's
  std::vector<std::vector<std::uint8_t>> datagrams;
  for (const auto& entry : std::filesystem::directory_iterator(CORVANITE_FUZZ_CORPUS)) {
    std::ifstream file(entry.path(), std::ios::binary);
    datagrams.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  ASSERT_FALSE(datagrams.empty());
  for (const auto& datagram : datagrams) {
    const auto parsed = net::parseDatagram(datagram);
    if (parsed) {
      EXPECT_EQ(net::sourceOf(datagram), parsed->source);
    }
  }
#endif
  const auto whole = ipv4Datagram(2, {0x11, 0, 0, 0}, 0, {10, 0, 1, 1});
  EXPECT_EQ(net::sourceOf(whole), net::Address::v4(0x0A000101U));
  EXPECT_FALSE(net::sourceOf(std::span(whole).first(19)));
  auto otherVersion = whole;
  otherVersion[0] = 0x55;
  EXPECT_FALSE(net::sourceOf(otherVersion));
  auto shortV6 = whole;
  shortV6[0] = 0x60;
  EXPECT_FALSE(net::sourceOf(shortV6)) << "24 bytes: no IPv6 header";
}

}  // namespace
