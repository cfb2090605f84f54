#include "net/packet/link_layer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kEthernet = static_cast<int>(net::LinkType::Ethernet);

const Bytes kDatagram{0x45, 0, 0, 28, 0, 0, 0, 0, 1, 2, 0, 0, 10, 0, 1, 1, 224, 0, 0, 1};

Bytes ethernet(std::uint16_t type, const Bytes& payload) {
  Bytes frame{0x01, 0x00, 0x5E, 0, 0, 1, 0x02, 0, 0, 0, 0, 1};
  frame.push_back(static_cast<std::uint8_t>(type >> 8U));
  frame.push_back(static_cast<std::uint8_t>(type & 0xFFU));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

Bytes asBytes(std::span<const std::uint8_t> span) { return Bytes(span.begin(), span.end()); }

TEST(LinkLayer, EthernetFramesOfIpGiveTheirDatagram) {
  const Bytes frame = ethernet(0x0800, kDatagram);
  const auto ipv4 = net::ipDatagramOf(kEthernet, frame);
  ASSERT_TRUE(ipv4);
  EXPECT_EQ(asBytes(*ipv4), kDatagram);
  EXPECT_EQ(ipv4->data(), frame.data() + 14) << "the frame's own bytes, not a copy";
  EXPECT_TRUE(net::ipDatagramOf(kEthernet, ethernet(0x86DD, kDatagram)));
}

TEST(LinkLayer, OtherProtocolsVlanTagsAndRuntsGiveNothing) {
  EXPECT_FALSE(net::ipDatagramOf(kEthernet, ethernet(0x0806, kDatagram))) << "ARP";
  // A tag libpcap put back: the frame belongs to a VLAN's link, not this one.
  Bytes tagged{0x00, 0x64, 0x08, 0x00};
  tagged.insert(tagged.end(), kDatagram.begin(), kDatagram.end());
  EXPECT_FALSE(net::ipDatagramOf(kEthernet, ethernet(0x8100, tagged)));
  EXPECT_FALSE(net::ipDatagramOf(kEthernet, ethernet(0x88A8, tagged)));
  Bytes runt = ethernet(0x0800, {});
  runt.pop_back();
  EXPECT_FALSE(net::ipDatagramOf(kEthernet, runt));
  EXPECT_FALSE(net::ipDatagramOf(kEthernet, {}));
  const Bytes bare = ethernet(0x0800, {});
  const auto headerOnly = net::ipDatagramOf(kEthernet, bare);
  ASSERT_TRUE(headerOnly);
  EXPECT_TRUE(headerOnly->empty());
}

TEST(LinkLayer, CookedHeadersCarryTheProtocolWhereEachVersionPutsIt) {
  Bytes cooked(16, 0);
  cooked[14] = 0x08;
  cooked.insert(cooked.end(), kDatagram.begin(), kDatagram.end());
  const auto v1 = net::ipDatagramOf(static_cast<int>(net::LinkType::LinuxCooked), cooked);
  ASSERT_TRUE(v1);
  EXPECT_EQ(asBytes(*v1), kDatagram);

  Bytes cooked2(20, 0);
  cooked2[0] = 0x86;
  cooked2[1] = 0xDD;
  cooked2.insert(cooked2.end(), kDatagram.begin(), kDatagram.end());
  const auto v2 = net::ipDatagramOf(static_cast<int>(net::LinkType::LinuxCooked2), cooked2);
  ASSERT_TRUE(v2);
  EXPECT_EQ(asBytes(*v2), kDatagram);
  // The same bytes read as the other version's header are not IP.
  EXPECT_FALSE(net::ipDatagramOf(static_cast<int>(net::LinkType::LinuxCooked), cooked2));
}

TEST(LinkLayer, BareIpLinksAreTheDatagramItself) {
  for (const auto type : {net::LinkType::RawIp, net::LinkType::Ipv4, net::LinkType::Ipv6}) {
    const auto datagram = net::ipDatagramOf(static_cast<int>(type), kDatagram);
    ASSERT_TRUE(datagram);
    EXPECT_EQ(asBytes(*datagram), kDatagram);
  }
}

TEST(LinkLayer, UnknownLinkTypesAreRefused) {
  // 802.11 with radiotap, and DOCSIS, which an Ethernet interface may offer.
  for (const int unknown : {127, 143, 0, -1}) {
    EXPECT_FALSE(net::isReadableLinkType(unknown)) << unknown;
    EXPECT_FALSE(net::ipDatagramOf(unknown, ethernet(0x0800, kDatagram))) << unknown;
  }
  EXPECT_TRUE(net::isReadableLinkType(kEthernet));
}

}  // namespace
