// The route back to a sender as the kernel's own tables give it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/address.h"
#include "net/interfaces.h"

namespace {

// Every namespace routes its loopback addresses by lo, whatever else it has:
// the request and the reply's parsing are what this proves.
TEST(RouteLookup, TheKernelRoutesLoopbackByLo) {
  const auto interfaces = net::routeInterfacesTo(*net::Address::parseV4("127.0.0.9"), nullptr);
  ASSERT_TRUE(interfaces.has_value());
  EXPECT_EQ(*interfaces, std::vector<std::string>{"lo"});
}

TEST(RouteLookup, ALinkLocalSenderIsOnTheLinkItCameBy) {
  const net::LinkInterface link{"eth7", 7, *net::Address::parseV6("fe80::2"), net::ChosenBy::Option,
                                64};
  EXPECT_EQ(net::routeInterfacesTo(*net::Address::parseV6("fe80::1"), &link),
            std::vector<std::string>{"eth7"});
  EXPECT_FALSE(net::routeInterfacesTo(*net::Address::parseV6("fe80::1"), nullptr).has_value());
}

}  // namespace
