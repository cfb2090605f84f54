// The Winsock layer against the platform's socket library, on 127.0.0.1.
// Group traffic runs only where the test run was put into a network namespace
// of its own with nothing but loopback (CORVANITE_TEST_NETNS names it): a
// join elsewhere would announce itself on a real link.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "net/address.h"
#include "net/platform.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"
#include "net/unique_socket.h"
#include "net/winsock_scope.h"
#include "probes/group_receiver.h"
#include "tests/unit/loopback.h"
#include "tests/unit/platform_quirks.h"

namespace {

using testing_support::freeUdpPort;
using testing_support::loopbackAddress;

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint32_t kSecondLoopback = 0x7F000002;
constexpr int kPimProtocol = 103;

bool inOwnNetworkNamespace() { return std::getenv("CORVANITE_TEST_NETNS") != nullptr; }

// Wine's answers where Windows has a receive-all mode and a raw socket of
// protocol 0.
bool wineLacksReceiveAll(const net::CV_SocketException& failure) {
  return failure.operation == "WSAIoctl" &&
         (failure.errorCode == WSAEOPNOTSUPP || failure.errorCode == WSAEPROTONOSUPPORT);
}

TEST(WinsockScope, SocketsExistOnlyWhileAScopeIsOpen) {
  {
    const net::WinsockScope sockets;
    const net::UniqueSocket opened(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    ASSERT_TRUE(opened.valid()) << ::WSAGetLastError();
  }
  EXPECT_EQ(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP), INVALID_SOCKET);
  EXPECT_EQ(::WSAGetLastError(), WSANOTINITIALISED);
}

TEST(WinsockScope, FailedCleanupThrowsWsaCleanup) {
  try {
    const net::WinsockScope sockets;
    // Ends the library behind the scope's back, so its own cleanup fails.
    ASSERT_EQ(::WSACleanup(), 0);
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "WSACleanup");
    EXPECT_EQ(failure.errorCode, WSANOTINITIALISED);
    return;
  }
  FAIL() << "cleanup failure went unreported";
}

TEST(WinsockScope, FailedCleanupDuringUnwindingLetsTheFirstExceptionThrough) {
  try {
    const net::WinsockScope sockets;
    ASSERT_EQ(::WSACleanup(), 0);
    throw std::runtime_error("first");
  } catch (const std::runtime_error& first) {
    EXPECT_STREQ(first.what(), "first");
    return;
  } catch (const net::CV_SocketException& second) {
    FAIL() << "cleanup replaced the exception in flight: " << second.description();
  }
  FAIL() << "nothing arrived";
}

class WinsockSockets : public ::testing::Test {
 protected:
  void SetUp() override { sockets_ = std::make_unique<net::WinsockScope>(); }
  // delete, unlike reset(), lets a cleanup failure reach GoogleTest.
  void TearDown() override { delete sockets_.release(); }

 private:
  std::unique_ptr<net::WinsockScope> sockets_;
};

TEST_F(WinsockSockets, UdpBoundToLoopbackHearsItsSender) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket receiver(SOCK_DGRAM, IPPROTO_UDP, kLoopback, port);
  const std::uint16_t senderPort = freeUdpPort();
  net::UdpSocket sender(SOCK_DGRAM, IPPROTO_UDP, kLoopback, senderPort);
  const std::array<std::uint8_t, 3> payload{7, 8, 9};
  ASSERT_EQ(sender.sendTo(payload, loopbackAddress("127.0.0.1", port)), 3);

  ASSERT_TRUE(receiver.waitReadable(2000));
  std::array<std::uint8_t, 16> buffer{};
  sockaddr_in from;
  std::memset(&from, 0, sizeof from);
  EXPECT_EQ(receiver.recvFrom(buffer, from), 3);
  EXPECT_EQ(buffer[2], 9);
  EXPECT_EQ(from.sin_addr.s_addr, htonl(kLoopback));
  EXPECT_EQ(from.sin_port, htons(senderPort));
}

TEST_F(WinsockSockets, SecondBindOnAHeldPortFailsWithAddressInUse) {
  const std::uint16_t port = freeUdpPort();
  const net::UdpSocket holder(SOCK_DGRAM, IPPROTO_UDP, kLoopback, port);
  try {
    const net::UdpSocket second(SOCK_DGRAM, IPPROTO_UDP, kLoopback, port);
    FAIL() << "two sockets bound one port";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.description(),
              "Exception while running test : Bindfailed with error code : 10048\n");
  }
}

TEST_F(WinsockSockets, SelectWaitsOutItsWholeLimitIncludingWholeSeconds) {
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, kLoopback, freeUdpPort());
  const std::uint32_t start = net::tickCountMs();
  EXPECT_FALSE(socket.waitReadable(1200));
  // GetTickCount moves in steps of 10 to 16 ms; a lost seconds part would
  // end the wait after 200.
  EXPECT_GE(net::tickCountMs() - start, 1180U);
}

TEST_F(WinsockSockets, SelectWithoutLimitReturnsWhenDataArrive) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, kLoopback, port);
  EXPECT_FALSE(socket.waitReadable(0));
  testing_support::Sender().send(port);
  EXPECT_TRUE(socket.waitReadable(-1));
}

TEST_F(WinsockSockets, OptionsTheStackRefusesThrowSetOption) {
  GroupReceiver receiver(freeUdpPort());
  const int ttl = 1;
  receiver.setOption(IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
  try {
    receiver.setOption(IPPROTO_IP, IP_MULTICAST_TTL, &ttl, 0);
    FAIL() << "an empty option value was accepted";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
    EXPECT_EQ(failure.errorCode, WSAEFAULT);
  }
  try {
    receiver.joinGroup(net::addressOf(INADDR_NONE));
    FAIL() << "joined 255.255.255.255";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
  try {
    receiver.leaveSourceGroup(*net::parseAddress("232.1.2.3"), *net::parseAddress("127.0.0.1"));
    FAIL() << "left a channel never joined";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
}

// Sends one datagram to group:port from 127.0.0.1.
void sendToGroup(const char* group, std::uint16_t port) {
  net::UdpSocket sender(SOCK_DGRAM, IPPROTO_UDP, kLoopback, 0);
  const std::array<std::uint8_t, 1> payload{1};
  ASSERT_EQ(sender.sendTo(payload, loopbackAddress(group, port)), 1);
}

// Winsock's order, which differs from the Berkeley one; membership requests
// fill the record by name and rely on the header for it.
static_assert(offsetof(ip_mreq_source, imr_multiaddr) == 0);
static_assert(offsetof(ip_mreq_source, imr_sourceaddr) == 4);
static_assert(offsetof(ip_mreq_source, imr_interface) == 8);

TEST_F(WinsockSockets, SourceMembershipAdmitsOnlyItsSource) {
  if (!inOwnNetworkNamespace()) GTEST_SKIP() << "needs a network namespace with only loopback";
  if (testing_support::runningUnderWine()) {
    GTEST_SKIP() << "Wine hands the Winsock source membership record to Linux unreordered, "
                    "so the source is read as the interface";
  }
  try {
    const std::uint16_t port = freeUdpPort();
    GroupReceiver receiver(port);
    const std::uint16_t otherPort = freeUdpPort();
    GroupReceiver otherChannel(otherPort);
    // A source and interface swapped in the record would name other channels,
    // or be refused outright.
    receiver.joinSourceGroup(*net::parseAddress("232.1.2.3"), *net::parseAddress("127.0.0.1"));
    otherChannel.joinSourceGroup(*net::parseAddress("232.1.2.3"), *net::parseAddress("192.0.2.7"));
    sendToGroup("232.1.2.3", port);
    sendToGroup("232.1.2.3", otherPort);
    receiver.receive(500, true);
    otherChannel.receive(100, true);
    EXPECT_EQ(receiver.memberCount(), 1);
    EXPECT_EQ(otherChannel.memberCount(), 0) << "heard a source it did not ask for";

    receiver.leaveSourceGroup(*net::parseAddress("232.1.2.3"), *net::parseAddress("127.0.0.1"));
    sendToGroup("232.1.2.3", port);
    receiver.receive(300, true);
    EXPECT_EQ(receiver.memberCount(), 1);
    EXPECT_EQ(receiver.memberTable().count("127.0.0.1"), 1U);
    if (!receiver.memberTable().empty()) {
      EXPECT_EQ(receiver.memberTable().begin()->second, 1) << "heard the channel after leaving it";
    }
  } catch (const net::CV_SocketException& failure) {
    FAIL() << failure.description();
  }
}

TEST_F(WinsockSockets, AnySourceMembershipHearsTheGroupOnlyWhileJoined) {
  if (!inOwnNetworkNamespace()) GTEST_SKIP() << "needs a network namespace with only loopback";
  const std::uint16_t port = freeUdpPort();
  GroupReceiver receiver(port);
  sendToGroup("239.1.2.3", port);
  receiver.joinGroup(*net::parseAddress("239.1.2.3"));
  sendToGroup("239.1.2.3", port);
  receiver.receive(500, true);
  receiver.leaveGroup(*net::parseAddress("239.1.2.3"));
  sendToGroup("239.1.2.3", port);
  receiver.receive(300, true);
  ASSERT_EQ(receiver.memberCount(), 1);
  EXPECT_EQ(receiver.memberTable().begin()->second, 1)
      << "only the datagram sent while a member counts";
}

// Raw IGMP sockets are what Wine grants; the receive-all modes work from
// any bound raw socket.
class LoopbackIgmpSocket : public net::RawSocket {
 public:
  LoopbackIgmpSocket() : net::RawSocket(IPPROTO_IGMP) { bind(loopbackAddress("127.0.0.1", 0)); }
};

TEST_F(WinsockSockets, ReceiveAllSeesEveryProtocolOnTheBoundAddress) {
  try {
    LoopbackIgmpSocket capture;
    capture.enableReceiveAll();
    const std::uint16_t port = freeUdpPort();
    const net::UdpSocket target(SOCK_DGRAM, IPPROTO_UDP, kLoopback, port);
    testing_support::Sender().send(port);
    std::array<std::uint8_t, 4096> buffer{};
    sockaddr_in from;
    for (int reads = 0; reads < 50 && capture.waitReadable(2000); ++reads) {
      const int received = capture.recvFrom(buffer, from);
      if (received >= 28 && buffer[9] == IPPROTO_UDP) return;
    }
    FAIL() << "the capture never showed the UDP datagram";
  } catch (const net::CV_RawSocketException& failure) {
    GTEST_SKIP() << "no raw sockets here: " << failure.description();
  } catch (const net::CV_SocketException& failure) {
    if (wineLacksReceiveAll(failure)) {
      GTEST_SKIP() << "SIO_RCVALL needs a raw socket of protocol 0, which Wine refuses: "
                   << failure.description();
    }
    FAIL() << failure.description();
  }
}

TEST_F(WinsockSockets, ReceiveAllIgmpCanBeSwitchedOn) {
  try {
    LoopbackIgmpSocket capture;
    // What it then captures needs a querier on a real link; here only that
    // the platform takes the control code (a wrong one is refused).
    capture.enableReceiveAllIgmp();
  } catch (const net::CV_RawSocketException& failure) {
    GTEST_SKIP() << "no raw sockets here: " << failure.description();
  } catch (const net::CV_SocketException& failure) {
    if (wineLacksReceiveAll(failure)) {
      GTEST_SKIP() << "SIO_RCVALL_IGMPMCAST is not implemented (Wine): " << failure.description();
    }
    FAIL() << failure.description();
  }
}

TEST_F(WinsockSockets, RefusedCaptureLeavesTheSocketReadingItself) {
  try {
    LoopbackIgmpSocket socket;
    try {
      socket.enableReceiveAll();
      GTEST_SKIP() << "the capture works here; its refusal cannot be provoked";
    } catch (const net::CV_SocketException& failure) {
      ASSERT_EQ(failure.operation, "WSAIoctl");
    }
    // An IGMPv2 report for 239.1.2.3, checksum included, to this host only.
    const std::array<std::uint8_t, 8> report{0x16, 0, 0xF8, 0xFA, 239, 1, 2, 3};
    ASSERT_EQ(socket.sendTo(report, loopbackAddress("127.0.0.1", 0)), 8);
    ASSERT_TRUE(socket.waitReadable(2000));
    std::array<std::uint8_t, 4096> buffer{};
    sockaddr_in from;
    ASSERT_EQ(socket.recvFrom(buffer, from), 28);
    EXPECT_EQ(buffer[9], IPPROTO_IGMP);
    EXPECT_EQ(buffer[20], 0x16);
  } catch (const net::CV_RawSocketException& failure) {
    GTEST_SKIP() << "no raw sockets here: " << failure.description();
  }
}

// The Hello's path: a raw socket of protocol 103 sends PIM, not protocol 0.
TEST_F(WinsockSockets, PimSocketSendsAsProtocol103) {
  try {
    net::RawSocket socket(kPimProtocol);
    socket.bind(loopbackAddress("127.0.0.1", 0));
    const std::array<std::uint8_t, 4> hello{0x20, 0, 0, 0};
    ASSERT_EQ(socket.sendTo(hello, loopbackAddress("127.0.0.1", 0)), 4);
    ASSERT_TRUE(socket.waitReadable(2000));
    std::array<std::uint8_t, 4096> buffer{};
    sockaddr_in from;
    ASSERT_EQ(socket.recvFrom(buffer, from), 24);
    EXPECT_EQ(buffer[9], kPimProtocol);
  } catch (const net::CV_RawSocketException& failure) {
    GTEST_SKIP() << "no raw PIM sockets here (Wine grants raw ICMP and IGMP only): "
                 << failure.description();
  }
}

}  // namespace
