#include "net/ip_datagram.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/datagram_builder.h"

namespace {

using testing_support::ipv4Datagram;

TEST(Ipv4Datagram, PayloadStartsAtTheHeaderLengthItDeclares) {
  const auto plain = ipv4Datagram(2, {0x11, 0x22});
  const auto parsed = net::parseIpv4(plain, 2);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->protocol, 2);
  EXPECT_EQ(parsed->payload.size(), 2U);
  EXPECT_EQ(parsed->payload[0], 0x11);

  const auto withOptions = ipv4Datagram(103, {0x20}, 1);  // first byte 0x46
  ASSERT_EQ(withOptions[0], 0x46);
  const auto parsedOptions = net::parseIpv4(withOptions, 1);
  ASSERT_TRUE(parsedOptions);
  EXPECT_EQ(parsedOptions->payload.data(), withOptions.data() + 24);
}

TEST(Ipv4Datagram, RuntsAreRefused) {
  EXPECT_FALSE(net::parseIpv4({}, 0));
  for (std::uint8_t headerWords = 0; headerWords < 5; ++headerWords) {
    auto bogus = ipv4Datagram(2, std::vector<std::uint8_t>(40, 0x11));
    bogus[0] = static_cast<std::uint8_t>(0x40U | headerWords);
    EXPECT_FALSE(net::parseIpv4(bogus, 0)) << "header length " << headerWords * 4;
  }
  auto pastTheEnd = ipv4Datagram(2, {0x11, 0, 0, 0});
  pastTheEnd[0] = 0x4F;  // 60-byte header in a 24-byte datagram
  EXPECT_FALSE(net::parseIpv4(pastTheEnd, 0));

  const auto headerOnly = ipv4Datagram(2, {});
  ASSERT_TRUE(net::parseIpv4(headerOnly, 0));
  EXPECT_FALSE(net::parseIpv4(headerOnly, 1));
  const auto short7 = ipv4Datagram(2, std::vector<std::uint8_t>(7, 0x11));
  EXPECT_FALSE(net::parseIpv4(short7, 8));
  EXPECT_TRUE(net::parseIpv4(short7, 7));
}

TEST(Ipv4Datagram, SourceComesFromTheHeader) {
  const auto datagram = ipv4Datagram(103, {0x20}, 0, {10, 0, 1, 1});
  const sockaddr_in source = net::ipSourceOf(datagram);
  EXPECT_EQ(source.sin_family, AF_INET);
  EXPECT_EQ(source.sin_addr.s_addr, htonl(0x0A000101));
  const std::vector<std::uint8_t> tooShort(15, 0xFF);
  EXPECT_EQ(net::ipSourceOf(tooShort).sin_addr.s_addr, 0U);
}

TEST(Ipv4Datagram, LinkPaddingAfterTheDeclaredLengthIsNotPayload) {
  // An IGMP message cut to 4 bytes, padded with zeros to the Ethernet minimum:
  // read with the padding, it would be a general query.
  auto padded = ipv4Datagram(2, {0x11, 0x64, 0xEE, 0x9B});
  padded.resize(46, 0);
  const auto parsed = net::parseIpv4(padded, 0);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->payload.size(), 4U);
  EXPECT_FALSE(net::parseIpv4(padded, 8));

  auto headerTooLong = ipv4Datagram(2, std::vector<std::uint8_t>(8, 0x11));
  headerTooLong[3] = 19;  // total length shorter than the header itself
  EXPECT_FALSE(net::parseIpv4(headerTooLong, 0));
}

TEST(Ipv4Datagram, DatagramCutToTheBufferKeepsWhatArrived) {
  auto cut = ipv4Datagram(17, std::vector<std::uint8_t>(100, 0x20));
  cut[2] = 0x13;  // declares 5000 bytes; 120 arrived
  cut[3] = 0x88;
  const auto parsed = net::parseIpv4(cut, 8);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->payload.size(), 100U);
}

TEST(Ipv4Datagram, OnlyTheFirstFragmentCarriesAMessageHeader) {
  auto first = ipv4Datagram(103, {0x20, 0, 0, 0});
  first[6] = 0x20;  // more fragments follow, offset 0
  EXPECT_TRUE(net::parseIpv4(first, 1));
  for (const auto& [high, low] : {std::pair<std::uint8_t, std::uint8_t>{0x00, 0x01},
                                  {0x20, 0xB9},
                                  {0x1F, 0xFF},
                                  {0x40, 0x10}}) {
    auto later = ipv4Datagram(103, {0x20, 0, 0, 0});
    later[6] = high;
    later[7] = low;
    EXPECT_FALSE(net::parseIpv4(later, 1)) << std::hex << int{high} << int{low};
  }
  auto dontFragment = ipv4Datagram(103, {0x20, 0, 0, 0});
  dontFragment[6] = 0x40;
  EXPECT_TRUE(net::parseIpv4(dontFragment, 1));
}

}  // namespace
