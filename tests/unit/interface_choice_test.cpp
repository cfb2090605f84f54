#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <variant>
#include <vector>

#include "app/pass_setup.h"
#include "net/address.h"
#include "net/interfaces.h"
#include "net/platform.h"

namespace {

using net::ChosenBy;
using net::HostInterface;

net::Address address(std::uint32_t hostOrder) { return net::Address::v4(hostOrder); }

HostInterface link(const char* name, unsigned int index, std::uint32_t at, bool up = true,
                   bool running = true) {
  return HostInterface{name, index, address(at), true, up, running, true, false};
}

net::RouteSource route(std::optional<std::uint32_t> hostOrder) {
  return [hostOrder]() -> std::optional<net::Address> {
    if (!hostOrder) return std::nullopt;
    return address(*hostOrder);
  };
}

// lo 127.0.0.1, mgmt 192.0.2.5 (up, no carrier), eth0 10.0.1.2, eth1 10.0.9.2
std::vector<HostInterface> host() {
  HostInterface lo = link("lo", 1, 0x7F000001U);
  lo.loopback = true;
  return {lo, link("mgmt", 2, 0xC0000205U, true, false), link("eth0", 3, 0x0A000102U),
          link("eth1", 4, 0x0A000902U)};
}

TEST(InterfaceChoice, HostNameAddressOnAnUpLinkWins) {
  // 127.0.1.1 first, as Debian maps the name: it is on no link and is skipped.
  const auto chosen = net::chooseDefaultInterface(
      host(), {address(0x7F000101U), address(0x0A000902U)}, route(0x0A000102U));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->name, "eth1");
  EXPECT_EQ(chosen->index, 4U);
  EXPECT_EQ(chosen->chosenBy, ChosenBy::HostName);
  EXPECT_STREQ(net::chosenByText(chosen->chosenBy), "host-name");
}

TEST(InterfaceChoice, TheRouteIsOnlyAskedForWhenTheNameDecidesNothing) {
  int asked = 0;
  const net::RouteSource counted = [&asked]() -> std::optional<net::Address> {
    ++asked;
    return address(0x0A000102U);
  };
  EXPECT_EQ(net::chooseDefaultInterface(host(), {address(0x0A000902U)}, counted)->name, "eth1");
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(net::chooseDefaultInterface(host(), {address(0x7F000101U)}, counted)->name, "eth0");
  EXPECT_EQ(asked, 1);
}

TEST(InterfaceChoice, MulticastRouteWhenTheNameIsOnNoLink) {
  const auto chosen =
      net::chooseDefaultInterface(host(), {address(0x7F000101U)}, route(0x0A000102U));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->name, "eth0");
  EXPECT_EQ(chosen->chosenBy, ChosenBy::MulticastRoute);
}

TEST(InterfaceChoice, FirstUpSkipsLoopbackAndLinksWithoutCarrier) {
  // The route's source is loopback's: no link to test there.
  const auto chosen =
      net::chooseDefaultInterface(host(), {address(0x7F000101U)}, route(0x7F000001U));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->name, "eth0");
  EXPECT_EQ(chosen->chosenBy, ChosenBy::FirstUp);
}

TEST(InterfaceChoice, DownLinkHoldingTheNameIsSkipped) {
  auto interfaces = host();
  interfaces[3].up = false;
  const auto chosen = net::chooseDefaultInterface(interfaces, {address(0x0A000902U)}, route({}));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->name, "eth0");
  EXPECT_EQ(chosen->chosenBy, ChosenBy::FirstUp);
}

TEST(InterfaceChoice, NoUsableLinkLeavesTheNamesFirstAddress) {
  const std::vector<HostInterface> onlyLoopback{host()[0]};
  const auto chosen = net::chooseDefaultInterface(onlyLoopback, {address(0x7F000101U)}, route({}));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->index, 0U);
  EXPECT_EQ(chosen->address, address(0x7F000101U));
  EXPECT_FALSE(net::chooseDefaultInterface(onlyLoopback, {}, route({})));
}

std::string refusal(const std::vector<HostInterface>& interfaces, const std::string& text) {
  const auto found = net::interfaceForOption(interfaces, text);
  if (const auto* problem = std::get_if<std::string>(&found)) return *problem;
  return "accepted " + std::get<net::LinkInterface>(found).name;
}

TEST(InterfaceOption, ByNameOrByAddress) {
  EXPECT_EQ(refusal(host(), "eth1"), "accepted eth1");
  EXPECT_EQ(refusal(host(), "10.0.1.2"), "accepted eth0");
  const auto found = net::interfaceForOption(host(), "eth1");
  EXPECT_EQ(std::get<net::LinkInterface>(found).chosenBy, ChosenBy::Option);
}

// A router on the link may sit in any of the interface's subnets.
TEST(InterfaceOption, TheLinkKnowsEverySubnetOfItsInterface) {
  auto interfaces = host();
  for (HostInterface& entry : interfaces) entry.prefixLength = 24;
  interfaces.push_back(link("eth0", 3, 0xC0A80A05U));  // 192.168.10.5/24, secondary
  interfaces.back().prefixLength = 24;
  interfaces.push_back(link("eth0", 3, 0xC0A80A06U));  // same subnet again
  interfaces.back().prefixLength = 24;
  const auto chosen = std::get<net::LinkInterface>(net::interfaceForOption(interfaces, "eth0"));
  std::vector<std::string> subnets;
  for (const net::Prefix& prefix : net::onLinkPrefixes(chosen)) {
    subnets.push_back(prefix.toString());
  }
  EXPECT_EQ(subnets, (std::vector<std::string>{"10.0.1.0/24", "192.168.10.0/24"}));
  EXPECT_TRUE(net::onLinkPrefixes(net::LinkInterface{"eth0", 3, address(0x0A000102U)}).empty());
}

TEST(InterfaceOption, EachUnusableInterfaceIsNamedPrecisely) {
  auto interfaces = host();
  interfaces[3].up = false;
  interfaces.push_back(HostInterface{"tun0", 9, {}, false, true, true, false, false});
  EXPECT_EQ(refusal(interfaces, "eth9"), "--interface: this host has no interface named 'eth9'");
  EXPECT_EQ(refusal(interfaces, "10.9.9.9"),
            "--interface: no interface of this host holds 10.9.9.9");
  EXPECT_EQ(refusal(interfaces, "eth1"), "--interface: interface eth1 is down");
  EXPECT_EQ(refusal(interfaces, "10.0.9.2"), "--interface: interface eth1 is down");
  EXPECT_EQ(refusal(interfaces, "tun0"), "--interface: interface tun0 has no IPv4 address");
}

}  // namespace

namespace {

// A long run with -i: each pass finds the interface afresh by its name, so a
// recreated one (a new index) is used again and a vanished one fails that
// pass with "no such device".
TEST(InterfaceChoice, EachPassFindsTheInterfaceGivenByOptionAfreshByName) {
  const std::vector<net::HostInterface> interfaces = net::hostInterfaces();
  const auto loopback =
      std::find_if(interfaces.begin(), interfaces.end(), [](const net::HostInterface& entry) {
        return entry.name == "lo" && entry.up && entry.hasIpv4;
      });
  if (loopback == interfaces.end()) GTEST_SKIP() << "no loopback interface named lo";
  const net::Address address = *net::Address::parseV4("127.0.0.1");
  const LinksByOption stale{{net::Family::V4, net::LinkInterface{"lo", loopback->index + 1000,
                                                                 address, ChosenBy::Option}}};
  const PassSetup again = preparePass(options::RunOptions{}, net::Family::V4, stale);
  ASSERT_TRUE(again.link.chosen);
  EXPECT_EQ(again.link.chosen->index, loopback->index);
  EXPECT_EQ(again.link.chosen->chosenBy, ChosenBy::Option);

  const LinksByOption gone{
      {net::Family::V4, net::LinkInterface{"corvgone0", 4242, address, ChosenBy::Option}}};
  const PassSetup failed = preparePass(options::RunOptions{}, net::Family::V4, gone);
  EXPECT_FALSE(failed.link.chosen);
  ASSERT_TRUE(failed.link.failure);
  EXPECT_EQ(failed.link.failure->errorCode, net::kNoSuchDeviceError);
}

}  // namespace
