#include "net/socket.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "net/platform.h"
#include "net/socket_exceptions.h"
#include "net/unique_socket.h"
#include "tests/unit/loopback.h"
#include "tests/unit/platform_quirks.h"

namespace {

using testing_support::freeUdpPort;
using testing_support::Sender;

TEST(UdpSocket, PollWithZeroSeesOnlyWhatIsAlreadyWaiting) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  EXPECT_FALSE(socket.waitReadable(0));
  Sender().send(port);
  EXPECT_TRUE(socket.waitReadable(-1));
  EXPECT_TRUE(socket.waitReadable(0));
}

TEST(UdpSocket, BoundedWaitWithoutDataReportsNothingReadable) {
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, freeUdpPort());
  const std::uint32_t start = net::tickCountMs();
  EXPECT_FALSE(socket.waitReadable(150));
  // A lower bound only: the wait must not end early.
  EXPECT_GE(net::tickCountMs() - start, 149U);
}

TEST(UdpSocket, SecondBindOnAHeldPortThrowsBind) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket holder(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  try {
    net::UdpSocket second(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
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
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  Sender("127.0.0.2").send(port, "");
  ASSERT_TRUE(socket.waitReadable(1000));
  std::array<std::uint8_t, 16> buffer{};
  sockaddr_in from{};
  EXPECT_EQ(socket.recvFrom(buffer, from), 0);
  EXPECT_EQ(from.sin_addr.s_addr, htonl(0x7F000002));
}

TEST(UdpSocket, FailedCallThrowsItsOperationAndLeavesTheSocketUsable) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  const int tooShort = 0;
  try {
    socket.setOption(IPPROTO_IP, IP_MULTICAST_TTL, &tooShort, 0);
    FAIL() << "a zero-length option was accepted";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
    EXPECT_EQ(failure.errorCode, testing_support::kOptionTooShort);
  }
  Sender().send(port);
  EXPECT_TRUE(socket.waitReadable(1000));
}

TEST(UdpSocket, SendToReportsTheBytesSent) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket receiver(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  net::UdpSocket sender(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, freeUdpPort());
  const std::array<std::uint8_t, 5> payload{1, 2, 3, 4, 5};
  EXPECT_EQ(sender.sendTo(payload, testing_support::loopbackAddress("127.0.0.1", port)), 5);
  std::array<std::uint8_t, 16> buffer{};
  sockaddr_in from{};
  ASSERT_TRUE(receiver.waitReadable(1000));
  EXPECT_EQ(receiver.recvFrom(buffer, from), 5);
  EXPECT_EQ(buffer[4], 5);
}

TEST(UdpSocket, DatagramLongerThanTheBufferArrivesCutToIt) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  const Sender sender;
  sender.send(port, std::string(5000, 'A'));
  sender.send(port, "next");
  std::array<std::uint8_t, 4096> buffer{};
  sockaddr_in from{};
  ASSERT_TRUE(socket.waitReadable(1000));
  EXPECT_EQ(socket.recvFrom(buffer, from), 4096);
  EXPECT_EQ(buffer[4095], 'A');
  EXPECT_EQ(from.sin_family, AF_INET);
  ASSERT_TRUE(socket.waitReadable(1000));
  EXPECT_EQ(socket.recvFrom(buffer, from), 4);
}

net::UniqueSocket udpBoundTo(const sockaddr_in& local) {
  net::UniqueSocket opened(net::os::openSocket(AF_INET, SOCK_DGRAM, 0));
  if (opened.valid() && net::os::bindTo(opened.get(), local) != 0) opened.reset();
  return opened;
}

// Whether a port is held shows whether its socket is still open.
TEST(UniqueSocket, MovesHandOverTheHandleAndTheLastOwnerClosesIt) {
  const auto local = testing_support::loopbackAddress("127.0.0.1", freeUdpPort());
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
  const auto local = testing_support::loopbackAddress("127.0.0.1", freeUdpPort());
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
  std::vector<sockaddr_in> locals;
  std::vector<net::UniqueSocket> owners;
  for (int i = 0; i < kSockets; ++i) {
    locals.push_back(testing_support::loopbackAddress("127.0.0.1", freeUdpPort()));
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
  for (const sockaddr_in& local : locals) {
    while (!udpBoundTo(local).valid() && std::chrono::steady_clock::now() < giveUp) {
      net::pauseMs(1);
    }
    EXPECT_TRUE(udpBoundTo(local).valid()) << "port " << ntohs(local.sin_port) << " still held";
  }
}

}  // namespace
