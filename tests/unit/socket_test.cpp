#include "net/socket.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "net/platform.h"
#include "net/socket_exceptions.h"
#include "net/unique_socket.h"
#include "tests/unit/loopback.h"
#include "tests/unit/platform_quirks.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing_support::freeUdpPort;
using testing_support::kLoopback;
using testing_support::queued;
using testing_support::Sender;

TEST(UdpSocket, AWaitSeesADatagramOnlyOnceOneIsQueued) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(net::Family::V4, port);
  EXPECT_EQ(socket.family(), net::Family::V4);
  const auto start = steady_clock::now();
  {
    net::Deadline deadline(150);
    EXPECT_FALSE(socket.waitReadable(deadline));
  }
  // A lower bound only: the wait must not end early.
  EXPECT_GE(steady_clock::now() - start, milliseconds(150));
  Sender().send(port);
  EXPECT_TRUE(queued(socket));
  // Waiting reads nothing: the datagram is still there.
  EXPECT_TRUE(queued(socket));
}

TEST(UdpSocket, SecondBindOnAHeldPortThrowsBind) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket holder(net::Family::V4, port);
  try {
    net::UdpSocket second(net::Family::V4, port);
    FAIL() << "second bind succeeded";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "Bind");
    EXPECT_EQ(failure.errorCode, testing_support::kAddressInUse);
  }
}

TEST(UdpSocket, EmptyDatagramReadsAsZeroBytesWithItsSender) {
  if (testing_support::runningUnderWine()) {
    GTEST_SKIP() << "every loopback sender arrives as 127.0.0.1 here (Wine)";
  }
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(net::Family::V4, port);
  const Sender sender("127.0.0.2");
  sender.send(port, "");
  ASSERT_TRUE(queued(socket));
  std::array<std::uint8_t, 16> buffer{};
  const net::ReadResult read = socket.read(buffer);
  EXPECT_EQ(read.kind, net::ReadResult::Kind::Datagram);
  EXPECT_EQ(read.size, 0U);
  EXPECT_EQ(read.sender, (net::Endpoint{net::Address::v4(0x7F000002U), sender.port()}));
}

TEST(UdpSocket, FailedCallThrowsItsOperationAndLeavesTheSocketUsable) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(net::Family::V4, port);
  const int tooShort = 0;
  try {
    socket.setOption(IPPROTO_IP, IP_MULTICAST_TTL, &tooShort, 0);
    FAIL() << "a zero-length option was accepted";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
    EXPECT_EQ(failure.errorCode, testing_support::kOptionTooShort);
  }
  Sender().send(port);
  EXPECT_TRUE(queued(socket));
}

TEST(UdpSocket, SendToDeliversTheWholeMessageFromTheSocketsPort) {
  const std::uint16_t port = freeUdpPort();
  const std::uint16_t senderPort = freeUdpPort();
  net::UdpSocket receiver(net::Family::V4, port);
  net::UdpSocket sender(net::Family::V4, senderPort);
  const std::array<std::uint8_t, 5> payload{1, 2, 3, 4, 5};
  sender.sendTo(payload, net::Endpoint{kLoopback, port});
  std::array<std::uint8_t, 16> buffer{};
  ASSERT_TRUE(queued(receiver));
  const net::ReadResult read = receiver.read(buffer);
  EXPECT_EQ(read.size, 5U);
  EXPECT_EQ(buffer[4], 5);
  EXPECT_EQ(read.sender, (net::Endpoint{kLoopback, senderPort}));
}

TEST(UdpSocket, SendToAnotherFamilyThrowsSendTo) {
  net::UdpSocket socket(net::Family::V4, freeUdpPort());
  const std::array<std::uint8_t, 1> payload{1};
  try {
    socket.sendTo(payload, net::Endpoint{testing_support::loopbackV6(), freeUdpPort()});
    FAIL() << "an IPv4 socket sent to an IPv6 address";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "sendTo");
    EXPECT_NE(failure.errorCode, 0);
  }
}

TEST(UdpSocket, DatagramLongerThanTheBufferArrivesCutToIt) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(net::Family::V4, port);
  const Sender sender;
  sender.send(port, std::string(5000, 'A'));
  sender.send(port, "next");
  std::array<std::uint8_t, 4096> buffer{};
  ASSERT_TRUE(queued(socket));
  const net::ReadResult cut = socket.read(buffer);
  EXPECT_EQ(cut.size, 4096U);
  EXPECT_EQ(buffer[4095], 'A');
  EXPECT_EQ(cut.sender.address, kLoopback);
  ASSERT_TRUE(queued(socket));
  EXPECT_EQ(socket.read(buffer).size, 4U);
}

// Where the host has IPv6 loopback, the socket of that family hears it and
// names its senders as IPv6 addresses.
TEST(UdpSocket, Ipv6SocketReadsIpv6Senders) {
  std::unique_ptr<Sender> sender;
  try {
    sender = std::make_unique<Sender>(testing_support::loopbackV6());
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no IPv6 loopback on this host";
  }
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(net::Family::V6, port);
  EXPECT_EQ(socket.family(), net::Family::V6);
  sender->send(port, "six");
  ASSERT_TRUE(queued(socket));
  std::array<std::uint8_t, 16> buffer{};
  const net::ReadResult read = socket.read(buffer);
  EXPECT_EQ(read.size, 3U);
  EXPECT_EQ(read.sender, (net::Endpoint{testing_support::loopbackV6(), sender->port()}));
  EXPECT_EQ(read.sender.address.toString(), "::1");
}

net::UniqueSocket udpBoundTo(const net::SocketAddress& local) {
  net::UniqueSocket opened(net::os::openSocket(AF_INET, SOCK_DGRAM, 0));
  if (opened.valid() && net::os::bindTo(opened.get(), local) != 0) opened.reset();
  return opened;
}

net::SocketAddress freeLoopbackAddress() {
  return testing_support::socketAddress(kLoopback, freeUdpPort());
}

// Whether a port is held shows whether its socket is still open.
TEST(UniqueSocket, MovesHandOverTheHandleAndTheLastOwnerClosesIt) {
  const auto local = freeLoopbackAddress();
  {
    net::UniqueSocket first = udpBoundTo(local);
    ASSERT_TRUE(first.valid());
    const net::NativeSocket handle = first.get();
    net::UniqueSocket second(std::move(first));
    EXPECT_FALSE(first.valid());  // NOLINT(bugprone-use-after-move): the point of the test
    EXPECT_EQ(second.get(), handle);
    net::UniqueSocket third;
    third = std::move(second);
    EXPECT_EQ(third.get(), handle);
    EXPECT_FALSE(udpBoundTo(local).valid()) << "the port was free while its owner lived";
  }
  EXPECT_TRUE(udpBoundTo(local).valid()) << "the last owner did not close the socket";
}

TEST(UniqueSocket, AssigningOverAnOwnerClosesWhatItHeld) {
  const auto local = freeLoopbackAddress();
  net::UniqueSocket owner = udpBoundTo(local);
  ASSERT_TRUE(owner.valid());
  owner = net::UniqueSocket(net::os::openSocket(AF_INET, SOCK_DGRAM, 0));
  EXPECT_TRUE(owner.valid());
  EXPECT_TRUE(udpBoundTo(local).valid()) << "the replaced socket was left open";
  owner.reset();
  EXPECT_FALSE(owner.valid());
}

// Closes handed to the background happen, every one of them, and after the
// owner has let go, never while it still holds the socket.
TEST(UniqueSocket, EveryBackgroundCloseHappens) {
  constexpr int kSockets = 16;
  std::vector<net::SocketAddress> locals;
  std::vector<net::UniqueSocket> owners;
  for (int i = 0; i < kSockets; ++i) {
    locals.push_back(freeLoopbackAddress());
    owners.emplace_back(net::os::openSocket(AF_INET, SOCK_DGRAM, 0),
                        net::UniqueSocket::Closing::InBackground);
    ASSERT_TRUE(owners.back().valid());
    ASSERT_EQ(net::os::bindTo(owners.back().get(), locals.back()), 0);
  }
  EXPECT_FALSE(udpBoundTo(locals.front()).valid()) << "closed while its owner lived";
  owners.clear();
  // The closes run on another thread: wait for them, within a bound no
  // loaded machine comes near.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (const net::SocketAddress& local : locals) {
    while (!udpBoundTo(local).valid() && std::chrono::steady_clock::now() < giveUp) {
      net::pauseMs(1);
    }
    EXPECT_TRUE(udpBoundTo(local).valid())
        << "port " << net::endpointOf(local).port << " still held";
  }
}

}  // namespace
