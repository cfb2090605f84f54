#include <gtest/gtest.h>
#include <net/if.h>

#include <set>
#include <string>

#include "net/address.h"
#include "net/interfaces.h"

namespace {

// The indexes come from the link-layer entries of the interface list; they
// must be the ones the kernel gives by name, for every entry, addresses and
// address-less interfaces alike.
TEST(HostInterfaces, EveryEntryCarriesTheIndexTheKernelGivesItsName) {
  const std::vector<net::HostInterface> interfaces = net::hostInterfaces();
  std::set<std::string> names;
  bool loopbackSeen = false;
  for (const net::HostInterface& entry : interfaces) {
    EXPECT_NE(entry.index, 0U) << entry.name;
    EXPECT_EQ(entry.index, ::if_nametoindex(entry.name.c_str())) << entry.name;
    names.insert(entry.name);
    if (entry.loopback && entry.hasIpv4) {
      loopbackSeen = true;
      EXPECT_EQ(entry.address, net::Address::v4(0x7F000001U)) << entry.name;
      EXPECT_EQ(entry.address.family(), net::Family::V4) << entry.name;
    }
  }
  EXPECT_TRUE(loopbackSeen) << "no loopback address in the list";
  // Each interface the kernel knows is listed.
  struct if_nameindex* all = ::if_nameindex();
  ASSERT_NE(all, nullptr);
  for (const struct if_nameindex* known = all; known->if_index != 0; ++known) {
    EXPECT_EQ(names.count(known->if_name), 1U) << known->if_name;
  }
  ::if_freenameindex(all);
}

}  // namespace
