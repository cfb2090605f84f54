#include "net/packet/checksum.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "net/address.h"
#include "net/packet/wire.h"

namespace {

std::array<std::uint8_t, 2> stored(std::uint16_t checksum) {
  std::array<std::uint8_t, 2> bytes{};
  net::putBe16(bytes, 0, checksum);
  return bytes;
}

// The message with its checksum field (two bytes at `offset`) cleared, as
// the sum is taken over it.
std::vector<std::uint8_t> withoutChecksum(std::vector<std::uint8_t> message, std::size_t offset) {
  message[offset] = 0;
  message[offset + 1] = 0;
  return message;
}

std::uint16_t carried(const std::vector<std::uint8_t>& message, std::size_t offset) {
  return static_cast<std::uint16_t>(message[offset] << 8U | message[offset + 1]);
}

TEST(InternetChecksum, KnownVectors) {
  EXPECT_EQ(net::internetChecksum({}), 0xFFFF);
  const std::vector<std::uint8_t> oneByte{0x01};
  EXPECT_EQ(stored(net::internetChecksum(oneByte)), (std::array<std::uint8_t, 2>{0xFE, 0xFF}));
  // Bytes of 0x80 and above must add as unsigned values.
  const std::vector<std::uint8_t> high{0x00, 0x80, 0x00, 0x80};
  EXPECT_EQ(stored(net::internetChecksum(high)), (std::array<std::uint8_t, 2>{0xFE, 0xFF}));
  const std::vector<std::uint8_t> report{0x16, 0x00, 0x00, 0x00, 0xE9, 0x04, 0xC8, 0x13};
  EXPECT_EQ(stored(net::internetChecksum(report)), (std::array<std::uint8_t, 2>{0x38, 0xE7}));
}

TEST(InternetChecksum, MessageCarryingItsChecksumSumsToZero) {
  std::vector<std::uint8_t> message{0x45, 0x00, 0x00, 0x00, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0x12, 0x34, 0x56};
  net::putChecksum(message, 2);
  EXPECT_EQ(net::internetChecksum(message), 0);
}

TEST(InternetChecksum, CarriesFoldBackIn) {
  // 0xFFFF + 0xFFFF + 0x0002 = 0x20000: two folds give 0x0002, complement 0xFFFD.
  const std::vector<std::uint8_t> carries{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02};
  EXPECT_EQ(net::internetChecksum(carries), 0xFFFD);
}

// UDP datagrams from 198.51.100.20:5000 to 232.64.133.120:8020, of an even
// and an odd length; checksums from scapy's in4_chksum.
TEST(InternetChecksum, Ipv4PseudoHeaderCoversAddressesProtocolAndLength) {
  const net::PseudoHeader header{*net::Address::parseV4("198.51.100.20"),
                                 *net::Address::parseV4("232.64.133.120"), 17};
  const std::vector<std::uint8_t> even{0x13, 0x88, 0x1F, 0x54, 0x00, 0x0E, 0x01,
                                       0xBE, 'b',  'e',  'a',  'c',  'o',  'n'};
  EXPECT_EQ(net::internetChecksum(withoutChecksum(even, 6), header), carried(even, 6));
  const std::vector<std::uint8_t> odd{0x13, 0x88, 0x1F, 0x54, 0x00, 0x0F, 0xE0, 0xBB,
                                      'b',  'e',  'a',  'c',  'o',  'n',  '!'};
  EXPECT_EQ(net::internetChecksum(withoutChecksum(odd, 6), header), carried(odd, 6));
  // The datagram carrying its checksum sums to zero behind the same header.
  EXPECT_EQ(net::internetChecksum(odd, header), 0);
  // Each part of the pseudo-header counts.
  auto otherSource = header;
  otherSource.source = *net::Address::parseV4("198.51.100.21");
  EXPECT_NE(net::internetChecksum(even, otherSource), 0);
  auto otherProtocol = header;
  otherProtocol.protocol = 6;
  EXPECT_NE(net::internetChecksum(even, otherProtocol), 0);
  // Without one, the sum is the message's alone, which is not the UDP checksum.
  EXPECT_NE(net::internetChecksum(withoutChecksum(even, 6)), carried(even, 6));
}

// An ICMPv6 echo request (identifier 0x1234, sequence 1, data "abc") from
// 2001:db8::1 to ff02::1, and the tool's PIM Hello (Generation ID
// 0xA1B2C3D4) from fe80::1 to ff02::d; checksums from scapy's in6_chksum.
TEST(InternetChecksum, Ipv6PseudoHeaderCoversAddressesLengthAndNextHeader) {
  const net::PseudoHeader echo{*net::Address::parseV6("2001:db8::1"),
                               *net::Address::parseV6("ff02::1"), 58};
  const std::vector<std::uint8_t> request{0x80, 0x00, 0x7C, 0x64, 0x12, 0x34,
                                          0x00, 0x01, 'a',  'b',  'c'};
  EXPECT_EQ(net::internetChecksum(withoutChecksum(request, 2), echo), carried(request, 2));
  EXPECT_EQ(net::internetChecksum(request, echo), 0);

  const net::PseudoHeader pim{*net::Address::parseV6("fe80::1"), *net::Address::parseV6("ff02::d"),
                              103};
  const std::vector<std::uint8_t> hello{0x20, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00,
                                        0x1E, 0x00, 0x13, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0x14, 0x00, 0x04, 0xA1, 0xB2, 0xC3, 0xD4};
  EXPECT_EQ(net::internetChecksum(hello, pim), 0x7C15);
}

// IPv6 gives the length 32 bits: a jumbogram's 70001 bytes (byte i is 7i
// mod 256) from 2001:db8::1 to 2001:db8::2, next header 17; the checksum
// from scapy's in6_chksum.
TEST(InternetChecksum, Ipv6LengthBeyondSixteenBitsCounts) {
  std::vector<std::uint8_t> jumbo(70001);
  for (std::size_t i = 0; i < jumbo.size(); ++i) jumbo[i] = static_cast<std::uint8_t>(i * 7U);
  const net::PseudoHeader header{*net::Address::parseV6("2001:db8::1"),
                                 *net::Address::parseV6("2001:db8::2"), 17};
  EXPECT_EQ(net::internetChecksum(jumbo, header), 0x2B30);
}

}  // namespace
