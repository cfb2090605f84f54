#include "probes/group_receiver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#ifdef __linux__
#include <net/if.h>
#endif

#include "net/address.h"
#include "net/socket_exceptions.h"
#include "tests/unit/loopback.h"
#include "tests/unit/platform_quirks.h"

namespace {

using net::AfterDatagram;
using testing_support::freeUdpPort;
using testing_support::kLoopback;
using testing_support::queued;
using testing_support::Sender;

const net::Address kSecondLoopback = net::Address::v4(0x7F000002U);

// A receiver of the tool's on a free port of the system's network.
struct Receiving {
  std::uint16_t port = freeUdpPort();
  testing_support::WatchedNetwork network;
  GroupReceiver receiver{network, net::Family::V4, port};

  [[nodiscard]] std::int32_t heardFrom(const net::Address& member) const {
    const auto found = receiver.members().find(member);
    return found == receiver.members().end() ? 0 : found->second;
  }
};

TEST(GroupReceiver, CountsDatagramsPerSenderAddress) {
  Receiving at;
  const Sender first;
  for (int i = 0; i < 10; ++i) first.send(at.port);
  at.receiver.receive(300, AfterDatagram::KeepListening);
  EXPECT_EQ(at.receiver.members().size(), 1U);
  EXPECT_EQ(at.heardFrom(kLoopback), 10);
}

TEST(GroupReceiver, DistinctHostsAreDistinctMembersButPortsAreNot) {
  if (testing_support::runningUnderWine()) {
    GTEST_SKIP() << "every loopback sender arrives as 127.0.0.1 here (Wine)";
  }
  Receiving at;
  Sender("127.0.0.1").send(at.port);
  Sender("127.0.0.1").send(at.port);  // another source port, same host
  Sender("127.0.0.2").send(at.port, "");
  at.receiver.receive(300, AfterDatagram::KeepListening);
  EXPECT_EQ(at.receiver.members().size(), 2U);
  EXPECT_EQ(at.heardFrom(kLoopback), 2);
  EXPECT_EQ(at.heardFrom(kSecondLoopback), 1);
}

TEST(GroupReceiver, StopsAtTheFirstDatagramWhenNotKeepingOn) {
  Receiving at;
  const Sender sender;
  sender.send(at.port);
  sender.send(at.port);
  at.receiver.receive(60000, AfterDatagram::StopListening);
  EXPECT_EQ(at.heardFrom(kLoopback), 1);
  EXPECT_TRUE(queued(at.network.receiver())) << "the second datagram must still be queued";
}

TEST(GroupReceiver, NoTimeLeftMeansNoRead) {
  Receiving at;
  Sender().send(at.port);
  ASSERT_TRUE(queued(at.network.receiver()));
  at.receiver.receive(0, AfterDatagram::KeepListening);
  at.receiver.receive(-5, AfterDatagram::StopListening);
  EXPECT_TRUE(at.receiver.members().empty());
  EXPECT_TRUE(queued(at.network.receiver()));
}

TEST(GroupReceiver, SecondReceiveAddsToTheFirst) {
  if (testing_support::runningUnderWine()) {
    GTEST_SKIP() << "every loopback sender arrives as 127.0.0.1 here (Wine)";
  }
  Receiving at;
  const Sender sender;
  sender.send(at.port);
  at.receiver.receive(200, AfterDatagram::KeepListening);
  sender.send(at.port);
  Sender("127.0.0.3").send(at.port);
  at.receiver.receive(200, AfterDatagram::KeepListening);
  EXPECT_EQ(at.receiver.members().size(), 2U);
  EXPECT_EQ(at.heardFrom(kLoopback), 2);
}

TEST(GroupReceiver, HeldPortFailsConstructionWithBind) {
  Receiving holder;
  try {
    GroupReceiver second(holder.network, net::Family::V4, holder.port);
    FAIL() << "two receivers on one port";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.description(),
              "Exception while running test : Bindfailed with error code : " +
                  std::to_string(testing_support::kAddressInUse) + "\n");
  }
}

// These are refused by the kernel before anything is sent on any link.
TEST(GroupReceiver, RefusedMembershipRequestsThrowSetOption) {
  Receiving at;
  try {
    at.receiver.join(net::Address::v4(0xFFFFFFFFU), std::nullopt, 0);
    FAIL() << "joined 255.255.255.255";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
    // Wine refuses the protocol-independent requests themselves (WSAENOPROTOOPT).
    if (!testing_support::runningUnderWine()) {
      EXPECT_EQ(failure.errorCode, testing_support::kInvalidArgument);
    }
  }
  try {
    at.receiver.leave(*net::Address::parseV4("233.4.200.19"), std::nullopt, 0);
    FAIL() << "left a group never joined";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
  try {
    at.receiver.leave(*net::Address::parseV4("232.64.133.120"),
                      *net::Address::parseV4("198.51.100.20"), 0);
    FAIL() << "left a channel never joined";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
  EXPECT_TRUE(at.receiver.members().empty());
}

#ifdef __linux__
// Multicast on loopback alone: the test's own socket sends out of it, and
// the receiver joins on its interface index.
class LoopbackGroup {
 public:
  explicit LoopbackGroup(const char* from = "127.0.0.1") : sender_(from) {
    const in_addr loopback{htonl(INADDR_LOOPBACK)};
    if (net::os::setOption(sender_.handle(), IPPROTO_IP, IP_MULTICAST_IF, &loopback,
                           sizeof loopback) != 0) {
      throw std::runtime_error("multicast out of loopback");
    }
  }
  void send(const net::Address& group, std::uint16_t port) const { sender_.sendTo(group, port); }

 private:
  Sender sender_;
};

unsigned int loopbackIndex() { return ::if_nametoindex("lo"); }

TEST(GroupReceiver, JoinsAndLeavesOnTheInterfaceItNames) {
  ASSERT_NE(loopbackIndex(), 0U);
  Receiving at;
  const net::Address group = *net::Address::parseV4("239.255.15.16");
  at.receiver.join(group, std::nullopt, loopbackIndex());
  LoopbackGroup().send(group, at.port);
  at.receiver.receive(2000, AfterDatagram::StopListening);
  EXPECT_EQ(at.heardFrom(kLoopback), 1) << "no multicast on loopback here";
  at.receiver.leave(group, std::nullopt, loopbackIndex());
  // Left once, the group is no longer the socket's to leave.
  EXPECT_THROW(at.receiver.leave(group, std::nullopt, loopbackIndex()), net::CV_SocketException);
  // No such interface.
  try {
    at.receiver.join(group, std::nullopt, 0x7FFFFFF0U);
    FAIL() << "joined on an interface that does not exist";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
}

// The channel's source is the only sender heard: a source and a group
// swapped in the request, or the source left out, would let the other
// sender's datagram, sent first, through.
TEST(GroupReceiver, SourceSpecificJoinHearsOnlyItsSource) {
  ASSERT_NE(loopbackIndex(), 0U);
  Receiving at;
  const net::Address group = *net::Address::parseV4("232.255.15.17");
  at.receiver.join(group, kSecondLoopback, loopbackIndex());
  LoopbackGroup("127.0.0.1").send(group, at.port);
  LoopbackGroup("127.0.0.2").send(group, at.port);
  at.receiver.receive(300, AfterDatagram::KeepListening);
  EXPECT_EQ(at.heardFrom(kSecondLoopback), 1) << "no multicast on loopback here";
  EXPECT_EQ(at.heardFrom(kLoopback), 0);
  at.receiver.leave(group, kSecondLoopback, loopbackIndex());
}

// Another socket on the host joins a group on loopback: datagrams for it to
// the beacon port must not reach the receiver, which joined nothing (Linux
// delivers them unless IP_MULTICAST_ALL is off). A second port the other
// socket listens on shows the group's datagrams do arrive.
TEST(GroupReceiver, IgnoresGroupsOnlyAnotherSocketJoined) {
  Receiving at;
  const std::uint16_t otherPort = freeUdpPort();
  const net::Address group = *net::Address::parseV4("239.255.15.15");
  const net::UniqueSocket owner(net::os::openSocket(AF_INET, SOCK_DGRAM, 0));
  ASSERT_TRUE(owner.valid());
  const net::NativeSocket other = owner.get();
  ASSERT_EQ(net::os::bindTo(other, testing_support::socketAddress(net::Address{}, otherPort)), 0);
  ip_mreq join{};
  std::memcpy(&join.imr_multiaddr, group.bytes().data(), group.bytes().size());
  join.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(net::os::setOption(other, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join), 0);
  const in_addr loopback{htonl(INADDR_LOOPBACK)};
  ASSERT_EQ(net::os::setOption(other, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback), 0);

  const std::uint8_t beacon[] = {'b'};
  ASSERT_EQ(net::os::sendTo(other, beacon, testing_support::socketAddress(group, at.port)), 1);
  ASSERT_EQ(net::os::sendTo(other, beacon, testing_support::socketAddress(group, otherPort)), 1);
  ASSERT_EQ(net::os::selectReadable(other, 2000), 1) << "no multicast on loopback here";
  at.receiver.receive(100, AfterDatagram::KeepListening);
  EXPECT_TRUE(at.receiver.members().empty());
}
#endif

}  // namespace
