#include "probes/pim_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <vector>

#include "net/packet/checksum.h"
#include "tests/unit/datagram_builder.h"
#include "tests/unit/ipv6_captures.h"

namespace {

using testing_support::ipv4Datagram;

// The checksums are scapy's: its PIMv2 Hello layer with the same three
// options, not this tool's.
TEST(PimMessages, HelloCarriesHoldtimeDrPriorityZeroAndGenerationId) {
  EXPECT_EQ(pimHello(0xA1B2C3D4),
            (std::array<std::uint8_t, 26>{
                0x20, 0x00, 0x7A, 0x28,                          // Hello
                0x00, 0x01, 0x00, 0x02, 0x00, 0x1E,              // Holdtime 30
                0x00, 0x13, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00,  // DR Priority 0
                0x00, 0x14, 0x00, 0x04, 0xA1, 0xB2, 0xC3, 0xD4,  // Generation ID
            }));
  const auto zero = pimHello(0);
  EXPECT_EQ(zero[2], 0xDF);
  EXPECT_EQ(zero[3], 0xAF);
  EXPECT_EQ(net::internetChecksum(zero), 0);
}

// The IPv6 Hello's checksums are scapy's in6_chksum over the pseudo-header
// of the addresses given (next header 103), with its PIMv2 Hello layer
// building the same three options.
TEST(PimMessages, Ipv6HelloIsTheSameMessageSummedBehindItsPseudoHeader) {
  const auto host = *net::Address::parseV6("fe80::2");
  const auto allPimRouters = *net::Address::parseV6("ff02::d");
  EXPECT_EQ(pimHelloV6(0xA1B2C3D4, host, allPimRouters),
            (std::array<std::uint8_t, 26>{
                0x20, 0x00, 0x7C, 0x14,                          // Hello
                0x00, 0x01, 0x00, 0x02, 0x00, 0x1E,              // Holdtime 30
                0x00, 0x13, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00,  // DR Priority 0
                0x00, 0x14, 0x00, 0x04, 0xA1, 0xB2, 0xC3, 0xD4,  // Generation ID
            }));
  const auto other =
      pimHelloV6(0, *net::Address::parseV6("fe80::1234:5678:9abc:def0"), allPimRouters);
  EXPECT_EQ(other[2], 0xFF);
  EXPECT_EQ(other[3], 0x43);
  const auto ones = pimHelloV6(0xFFFFFFFF, host, allPimRouters);
  EXPECT_EQ(ones[2], 0xE1);
  EXPECT_EQ(ones[3], 0x9B);
  // What scapy captured of the host's Hello, header and all, is this one.
  const auto hello = pimHelloV6(0x12345678, host, allPimRouters);
  const auto& captured = ipv6_captures::kPimHelloHost;
  EXPECT_TRUE(std::equal(hello.begin(), hello.end(), captured.begin() + 40, captured.end()));

  EXPECT_THROW(pimHelloV6(1, net::Address::v4(0x0A000102U), allPimRouters), std::invalid_argument);
  EXPECT_THROW(pimHelloV6(1, host, net::kAllPimRoutersGroup), std::invalid_argument);
}

// The goodbye is the same neighbour's Hello with Holdtime 0; the checksums
// are scapy's (its PIMv2 Hello layer, and in6_chksum for IPv6).
TEST(PimMessages, GoodbyeIsTheSameHelloWithHoldtimeZero) {
  EXPECT_EQ(pimHello(0xA1B2C3D4, kPimGoodbyeHoldtimeSeconds),
            (std::array<std::uint8_t, 26>{
                0x20, 0x00, 0x7A, 0x46,                          // Hello
                0x00, 0x01, 0x00, 0x02, 0x00, 0x00,              // Holdtime 0
                0x00, 0x13, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00,  // DR Priority 0
                0x00, 0x14, 0x00, 0x04, 0xA1, 0xB2, 0xC3, 0xD4,  // Generation ID
            }));
  const auto goodbye = pimHelloV6(0xA1B2C3D4, *net::Address::parseV6("fe80::2"),
                                  *net::Address::parseV6("ff02::d"), kPimGoodbyeHoldtimeSeconds);
  EXPECT_EQ(goodbye[2], 0x7C);
  EXPECT_EQ(goodbye[3], 0x32);
  EXPECT_EQ(goodbye[9], 0x00);
}

TEST(PimMessages, Ipv6HellosBootstrapsAndRpAdvertisementsAreRead) {
  const auto hello = readPimMessage(ipv6_captures::kPimHello);
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->type, PimMessage::Type::Hello);
  EXPECT_EQ(hello->sender, *net::Address::parseV6("fe80::1"));
  EXPECT_EQ(hello->hello.holdtimeSeconds, 105);
  EXPECT_EQ(hello->hello.drPriority, 1U);
  EXPECT_EQ(hello->hello.generationId, 0x12345678U);

  const auto bootstrap = readPimMessage(ipv6_captures::kPimBootstrap);
  ASSERT_TRUE(bootstrap);
  EXPECT_EQ(bootstrap->type, PimMessage::Type::Bootstrap);
  EXPECT_FALSE(bootstrap->hello.holdtimeSeconds) << "only a Hello's options are read";
  const auto advertisement = readPimMessage(ipv6_captures::kPimCRpAdvertisement);
  ASSERT_TRUE(advertisement);
  EXPECT_EQ(advertisement->type, PimMessage::Type::CandidateRpAdvertisement);
  EXPECT_EQ(advertisement->sender, *net::Address::parseV6("2001:db8:1::1"));

  // Cut anywhere inside the IPv6 or PIM header, a Hello is no message.
  const auto& whole = ipv6_captures::kPimHello;
  for (std::size_t length = 0; length < 44; ++length) {
    EXPECT_FALSE(
        readPimMessage({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)}))
        << length;
  }
  EXPECT_FALSE(readPimMessage(ipv6_captures::kUdpBeacon));
  EXPECT_FALSE(readPimMessage(ipv6_captures::kMldv2GeneralQueryRa));
}

// A router's Hello as FRR says it from 10.0.1.1 with 10.0.9.1 on the same
// interface: the Address List (24) names the other address.
TEST(PimMessages, AHellosAddressListNamesTheSendersOtherAddresses) {
  const std::vector<std::uint8_t> frr{
      0x20, 0x00, 0x63, 0x17,                                      // Hello
      0x00, 0x01, 0x00, 0x02, 0x00, 0x69,                          // Holdtime 105
      0x00, 0x02, 0x00, 0x04, 0x01, 0xF4, 0x09, 0xC4,              // LAN Prune Delay
      0x00, 0x13, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01,              // DR Priority 1
      0x00, 0x14, 0x00, 0x04, 0x51, 0x17, 0x0B, 0x58,              // Generation ID
      0x00, 0x18, 0x00, 0x06, 0x01, 0x00, 0x0A, 0x00, 0x09, 0x01,  // Address List
  };
  const auto hello = readPimMessage(ipv4Datagram(103, frr));
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->hello.holdtimeSeconds, 105);
  EXPECT_EQ(hello->hello.generationId, 0x51170B58U);
  EXPECT_EQ(hello->hello.otherAddresses,
            (std::vector<net::Address>{*net::Address::parseV4("10.0.9.1")}));

  // IPv4 and IPv6 entries; the list ends at an entry it cannot read (an
  // unknown family, another encoding, or one cut short), keeping those before.
  const auto listOf = [](std::vector<std::uint8_t> entries) {
    std::vector<std::uint8_t> message{0x20, 0x00, 0x00, 0x00,
                                      0x00, 0x18, 0x00, static_cast<std::uint8_t>(entries.size())};
    message.insert(message.end(), entries.begin(), entries.end());
    return readPimMessage(ipv4Datagram(103, message))->hello.otherAddresses;
  };
  std::vector<std::uint8_t> both{0x01, 0x00, 0x0A, 0x00, 0x09, 0x01, 0x02, 0x00};
  const auto v6 = *net::Address::parseV6("2001:db8::1");
  both.insert(both.end(), v6.bytes().begin(), v6.bytes().end());
  EXPECT_EQ(listOf(both), (std::vector<net::Address>{*net::Address::parseV4("10.0.9.1"), v6}));
  for (const std::vector<std::uint8_t>& stop :
       {std::vector<std::uint8_t>{0x01, 0x00, 0x0A, 0x00, 0x09, 0x01, 0x03, 0x00, 1, 2, 3, 4},
        std::vector<std::uint8_t>{0x01, 0x00, 0x0A, 0x00, 0x09, 0x01, 0x01, 0x01, 1, 2, 3, 4},
        std::vector<std::uint8_t>{0x01, 0x00, 0x0A, 0x00, 0x09, 0x01, 0x01, 0x00, 1, 2, 3},
        std::vector<std::uint8_t>{0x01, 0x00, 0x0A, 0x00, 0x09, 0x01, 0x02}}) {
    EXPECT_EQ(listOf(stop), (std::vector<net::Address>{*net::Address::parseV4("10.0.9.1")}));
  }
}

std::vector<std::uint8_t> pim(std::uint8_t first, std::uint8_t protocol = 103,
                              std::uint8_t optionWords = 0) {
  return ipv4Datagram(protocol, {first, 0, 0x12, 0x34, 0, 1, 0, 2, 0, 105}, optionWords);
}

std::optional<PimMessage::Type> typeOf(const std::vector<std::uint8_t>& datagram) {
  const auto message = readPimMessage(datagram);
  if (!message) return std::nullopt;
  return message->type;
}

TEST(PimMessages, HellosAndCandidateRpAdvertisementsAreRecognised) {
  EXPECT_EQ(typeOf(pim(0x20)), PimMessage::Type::Hello);
  EXPECT_EQ(typeOf(pim(0x28)), PimMessage::Type::CandidateRpAdvertisement);
  EXPECT_EQ(typeOf(pim(0x20, 103, 1)), PimMessage::Type::Hello) << "IP options";
  EXPECT_EQ(readPimMessage(pim(0x28))->sender, net::Address::v4(0x0A000101U));
}

TEST(PimMessages, OtherPimTypesCountForNothingAndOtherVersionsAreNoPim) {
  // Bootstrap has a type of its own; the IPv4 prober passes it over (BatteryTest).
  EXPECT_EQ(typeOf(pim(0x24)), PimMessage::Type::Bootstrap);
  // Register, Join/Prune, Assert, Register-Stop: version 2 PIM of no interest.
  for (const std::uint8_t first : std::vector<std::uint8_t>{0x21, 0x23, 0x25, 0x22}) {
    EXPECT_EQ(typeOf(pim(first)), PimMessage::Type::Other) << std::hex << int{first};
  }
  for (const std::uint8_t first : std::vector<std::uint8_t>{0x10, 0x30, 0x00, 0x18, 0xF0}) {
    EXPECT_FALSE(readPimMessage(pim(first))) << std::hex << int{first};
  }
}

TEST(PimMessages, OnlyIpProtocol103IsPim) {
  // A TCP segment from port 8443 and a UDP datagram from 8192-8447 begin
  // with the bytes of a Hello or a C-RP-Advertisement.
  for (const std::uint8_t protocol : std::vector<std::uint8_t>{6, 17, 2, 1, 0}) {
    EXPECT_FALSE(readPimMessage(pim(0x20, protocol))) << int{protocol};
    EXPECT_FALSE(readPimMessage(pim(0x28, protocol))) << int{protocol};
  }
}

TEST(PimMessages, DatagramsEndingInsideTheHeaderAreSkipped) {
  EXPECT_FALSE(readPimMessage(ipv4Datagram(103, {})));
  EXPECT_FALSE(readPimMessage(ipv4Datagram(103, {0x20, 0, 0})));
  EXPECT_TRUE(readPimMessage(ipv4Datagram(103, {0x20, 0, 0, 0})));
  auto lying = pim(0x20);
  lying[0] = 0x4F;  // claims 60 header bytes of 30
  EXPECT_FALSE(readPimMessage(lying));
  lying[0] = 0x43;
  EXPECT_FALSE(readPimMessage(lying));
  EXPECT_FALSE(readPimMessage({}));
}

TEST(PimMessages, GenerationIdComesFromEntropyOrAFallbackWhenThatFails) {
  EXPECT_EQ(generationIdFrom([] { return 0x01020304U; }), 0x01020304U);
  // Where std::random_device throws, the Hello still gets an identifier.
  std::uint32_t fallback = 0;
  EXPECT_NO_THROW(fallback = generationIdFrom([]() -> std::uint32_t {
                    throw std::runtime_error("random_device: no entropy source");
                  }));
  EXPECT_NE(fallback, 0U);
}

}  // namespace
