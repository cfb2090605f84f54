#include "probes/group_receiver.h"

#include <gtest/gtest.h>

#include "net/address.h"
#include "net/socket_exceptions.h"
#include "tests/unit/loopback.h"
#include "tests/unit/platform_quirks.h"

namespace {

using testing_support::freeUdpPort;
using testing_support::Sender;

TEST(GroupReceiver, CountsDatagramsPerSenderAddress) {
  const std::uint16_t port = freeUdpPort();
  GroupReceiver receiver(port);
  const Sender first;
  for (int i = 0; i < 10; ++i) first.send(port);
  receiver.receive(300, true);
  EXPECT_EQ(receiver.memberCount(), 1);
  EXPECT_EQ(receiver.memberTable().at("127.0.0.1"), 10);
}

TEST(GroupReceiver, DistinctHostsAreDistinctMembersButPortsAreNot) {
  if (testing_support::runningUnderWine()) {
    GTEST_SKIP() << "every loopback sender arrives as 127.0.0.1 here (Wine)";
  }
  const std::uint16_t port = freeUdpPort();
  GroupReceiver receiver(port);
  Sender("127.0.0.1").send(port);
  Sender("127.0.0.1").send(port);  // another source port, same host
  Sender("127.0.0.2").send(port, "");
  receiver.receive(300, true);
  EXPECT_EQ(receiver.memberCount(), 2);
  EXPECT_EQ(receiver.memberTable().at("127.0.0.1"), 2);
  EXPECT_EQ(receiver.memberTable().at("127.0.0.2"), 1);
}

TEST(GroupReceiver, StopsAtTheFirstDatagramWhenNotKeepingOn) {
  const std::uint16_t port = freeUdpPort();
  GroupReceiver receiver(port);
  const Sender sender;
  sender.send(port);
  sender.send(port);
  receiver.receive(60000, false);
  EXPECT_EQ(receiver.memberCount(), 1);
  EXPECT_EQ(receiver.memberTable().at("127.0.0.1"), 1);
  EXPECT_TRUE(receiver.waitReadable(0)) << "the second datagram must still be queued";
}

TEST(GroupReceiver, NoTimeLeftMeansNoRead) {
  const std::uint16_t port = freeUdpPort();
  GroupReceiver receiver(port);
  Sender().send(port);
  ASSERT_TRUE(receiver.waitReadable(1000));
  receiver.receive(0, true);
  receiver.receive(-5, false);
  EXPECT_EQ(receiver.memberCount(), 0);
  EXPECT_TRUE(receiver.waitReadable(0));
}

TEST(GroupReceiver, SecondReceiveAddsToTheFirst) {
  if (testing_support::runningUnderWine()) {
    GTEST_SKIP() << "every loopback sender arrives as 127.0.0.1 here (Wine)";
  }
  const std::uint16_t port = freeUdpPort();
  GroupReceiver receiver(port);
  const Sender sender;
  sender.send(port);
  receiver.receive(200, true);
  sender.send(port);
  Sender("127.0.0.3").send(port);
  receiver.receive(200, true);
  EXPECT_EQ(receiver.memberCount(), 2);
  EXPECT_EQ(receiver.memberTable().at("127.0.0.1"), 2);
}

TEST(GroupReceiver, HeldPortFailsConstructionWithBind) {
  const std::uint16_t port = freeUdpPort();
  GroupReceiver holder(port);
  try {
    GroupReceiver second(port);
    FAIL() << "two receivers on one port";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.description(),
              "Exception while running test : Bindfailed with error code : " +
                  std::to_string(testing_support::kAddressInUse) + "\n");
  }
}

// These are refused by the kernel before anything is sent on any link.
TEST(GroupReceiver, RefusedMembershipRequestsThrowSetOption) {
  GroupReceiver receiver(freeUdpPort());
  try {
    receiver.joinGroup(net::addressOf(INADDR_NONE));
    FAIL() << "joined 255.255.255.255";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
    EXPECT_EQ(failure.errorCode, testing_support::kInvalidArgument);
  }
  try {
    receiver.leaveGroup(*net::parseAddress("233.4.200.19"));
    FAIL() << "left a group never joined";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
  try {
    receiver.leaveSourceGroup(*net::parseAddress("232.64.133.120"),
                              *net::parseAddress("198.51.100.20"));
    FAIL() << "left a channel never joined";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
  EXPECT_EQ(receiver.memberCount(), 0);
}

#ifdef __linux__
// Another socket on the host joins a group on loopback: datagrams for it to
// the beacon port must not reach the receiver, which joined nothing (Linux
// delivers them unless IP_MULTICAST_ALL is off). A second port the other
// socket listens on shows the group's datagrams do arrive.
TEST(GroupReceiver, IgnoresGroupsOnlyAnotherSocketJoined) {
  const std::uint16_t port = freeUdpPort();
  const std::uint16_t otherPort = freeUdpPort();
  GroupReceiver receiver(port);
  const auto group = testing_support::loopbackAddress("239.255.15.15", port);
  const net::UniqueSocket owner(net::os::openSocket(AF_INET, SOCK_DGRAM, 0));
  ASSERT_TRUE(owner.valid());
  const net::NativeSocket other = owner.get();
  ASSERT_EQ(net::os::bindTo(other, testing_support::loopbackAddress("0.0.0.0", otherPort)), 0);
  ip_mreq join{};
  join.imr_multiaddr = group.sin_addr;
  join.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(net::os::setOption(other, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join), 0);
  const in_addr loopback{htonl(INADDR_LOOPBACK)};
  ASSERT_EQ(net::os::setOption(other, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback), 0);

  const std::uint8_t beacon[] = {'b'};
  ASSERT_EQ(net::os::sendTo(other, beacon, group), 1);
  auto toOtherPort = group;
  toOtherPort.sin_port = htons(otherPort);
  ASSERT_EQ(net::os::sendTo(other, beacon, toOtherPort), 1);
  ASSERT_EQ(net::os::selectReadable(other, 2000), 1) << "no multicast on loopback here";
  receiver.receive(100, true);
  EXPECT_EQ(receiver.memberCount(), 0);
}
#endif

}  // namespace
