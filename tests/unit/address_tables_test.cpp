#include "probes/address_tables.h"

#include <gtest/gtest.h>

#include "net/address.h"

namespace {

TEST(AddressSet, TextListsEachAddressOnceInByteOrderWithTrailingSeparator) {
  AddressSet set;
  EXPECT_EQ(set.text(), "");
  set.add("10.0.0.2");
  set.add("10.0.0.1");
  set.add("10.0.0.2");
  EXPECT_EQ(set.size(), 2U);
  EXPECT_EQ(set.text(), "10.0.0.1, 10.0.0.2, ");
  EXPECT_EQ(set.text().size(), 20U);
}

TEST(AddressSet, OrderIsByteWiseNotNumeric) {
  AddressSet set;
  set.add("9.1.1.1");
  set.add("10.1.1.1");
  set.add("10.1.1.10");
  set.add("10.1.1");
  EXPECT_EQ(set.text(), "10.1.1, 10.1.1.1, 10.1.1.10, 9.1.1.1, ");
}

TEST(AddressCounts, CountsBySenderAddressOnly) {
  AddressCounts counts;
  sockaddr_in sender = net::socketAddress(*net::parseAddress("10.0.0.9"));
  sender.sin_port = htons(1);
  countSender(counts, sender);
  sender.sin_port = htons(2);
  countSender(counts, sender);
  countSender(counts, net::socketAddress(*net::parseAddress("10.0.0.10")));
  EXPECT_EQ(counts.size(), 2U);
  EXPECT_EQ(counts.at("10.0.0.9"), 2);
  EXPECT_EQ(counts.at("10.0.0.10"), 1);
}

TEST(AddressSet, AFloodOfSendersIsCutAtItsBound) {
  AddressSet set;
  for (int i = 0; i < 1000; ++i)
    set.add("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250));
  EXPECT_EQ(set.size(), AddressSet::kMaxAddresses);
  // The first senders heard are the ones kept.
  EXPECT_TRUE(set.contains("10.1.0.0"));
  EXPECT_FALSE(set.contains("10.1.3.249"));
}

TEST(Addresses, TextsConvertBothWays) {
  EXPECT_EQ(net::addressText(*net::parseAddress("233.4.200.19")), "233.4.200.19");
  EXPECT_FALSE(net::parseAddress("not an address"));
  EXPECT_FALSE(net::parseAddress("10.1")) << "shorthand forms are no dotted quad";
  EXPECT_FALSE(net::parseAddress("10.1.1.256"));
  const sockaddr_in group = net::socketAddress(net::addressOf(net::kAllPimRoutersGroup));
  EXPECT_EQ(group.sin_family, AF_INET);
  EXPECT_EQ(group.sin_port, 0);
  EXPECT_EQ(group.sin_addr.s_addr, htonl(0xE000000D));
  EXPECT_EQ(net::addressText(net::addressOf(net::kAllRoutersGroup)), "224.0.0.2");
  EXPECT_EQ(net::addressText(net::addressOf(net::kIgmpV3RoutersGroup)), "224.0.0.22");
}

}  // namespace
