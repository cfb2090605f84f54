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
#include "net/network.h"
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
using testing_support::kLoopback;
using testing_support::queued;
using testing_support::Sender;

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

TEST(WinsockScope, FailedCleanupThrowsWsaCleanupFromClose) {
  net::WinsockScope sockets;
  // Ends the library behind the scope's back, so its own cleanup fails.
  ASSERT_EQ(::WSACleanup(), 0);
  try {
    sockets.close();
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
  // close() lets a cleanup failure reach GoogleTest.
  void TearDown() override { sockets_->close(); }

 private:
  std::unique_ptr<net::WinsockScope> sockets_;
};

TEST_F(WinsockSockets, UdpReceiverHearsItsSenderWithItsPort) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket receiver(net::Family::V4, port);
  const Sender sender;
  sender.send(port, "abc");

  ASSERT_TRUE(queued(receiver));
  std::array<std::uint8_t, 16> buffer{};
  const net::ReadResult read = receiver.read(buffer);
  EXPECT_EQ(read.kind, net::ReadResult::Kind::Datagram);
  EXPECT_EQ(read.size, 3U);
  EXPECT_EQ(buffer[2], 'c');
  EXPECT_EQ(read.sender.address, kLoopback);
  EXPECT_EQ(read.sender.port, sender.port());
}

TEST_F(WinsockSockets, SecondBindOnAHeldPortFailsWithAddressInUse) {
  const std::uint16_t port = freeUdpPort();
  const net::UdpSocket holder(net::Family::V4, port);
  try {
    const net::UdpSocket second(net::Family::V4, port);
    FAIL() << "two sockets bound one port";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.description(),
              "Exception while running test : Bindfailed with error code : 10048\n");
  }
}

TEST_F(WinsockSockets, ListeningWaitsOutItsWholeLimitIncludingWholeSeconds) {
  net::UdpSocket socket(net::Family::V4, freeUdpPort());
  const std::uint32_t start = net::tickCountMs();
  socket.listen(1200,
                [](const net::ReceivedDatagram&) { return net::AfterDatagram::KeepListening; });
  // GetTickCount moves in steps of 10 to 16 ms; a lost seconds part would
  // end the wait after 200.
  EXPECT_GE(net::tickCountMs() - start, 1180U);
}

TEST_F(WinsockSockets, ListeningEndsAtTheDatagramThatSaysStop) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(net::Family::V4, port);
  Sender().send(port);
  const std::uint32_t start = net::tickCountMs();
  int heard = 0;
  socket.listen(60000, [&](const net::ReceivedDatagram&) {
    ++heard;
    return net::AfterDatagram::StopListening;
  });
  EXPECT_EQ(heard, 1);
  EXPECT_LT(net::tickCountMs() - start, 30000U) << "the wait ran on past the datagram";
}

TEST_F(WinsockSockets, OptionsAndMembershipsTheStackRefusesThrowSetOption) {
  net::UdpSocket receiver(net::Family::V4, freeUdpPort());
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
    receiver.changeMembership(net::Membership::Join, net::Address::v4(0xFFFFFFFFU), std::nullopt,
                              0);
    FAIL() << "joined 255.255.255.255";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
  try {
    receiver.changeMembership(net::Membership::Leave, *net::Address::parseV4("232.1.2.3"),
                              kLoopback, 0);
    FAIL() << "left a channel never joined";
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.operation, "SetOption");
  }
}

// Sends one datagram to group:port from 127.0.0.1.
void sendToGroup(const char* group, std::uint16_t port) {
  Sender().sendTo(*net::Address::parseV4(group), port, "g");
}

// The family-neutral requests lay out alike on Windows and elsewhere: the
// interface index, then whole socket addresses.
static_assert(offsetof(group_source_req, gsr_group) == 8);
static_assert(offsetof(group_source_req, gsr_source) == 8 + sizeof(sockaddr_storage));

TEST_F(WinsockSockets, SourceMembershipAdmitsOnlyItsSource) {
  if (!inOwnNetworkNamespace()) GTEST_SKIP() << "needs a network namespace with only loopback";
  if (testing_support::runningUnderWine()) {
    GTEST_SKIP() << "Wine refuses the family-neutral membership requests (WSAENOPROTOOPT), "
                    "which Windows has had since Vista";
  }
  try {
    testing_support::WatchedNetwork network;
    const std::uint16_t port = freeUdpPort();
    GroupReceiver receiver(network, net::Family::V4, port);
    const std::uint16_t otherPort = freeUdpPort();
    GroupReceiver otherChannel(network, net::Family::V4, otherPort);
    const net::Address group = *net::Address::parseV4("232.1.2.3");
    // A source and group swapped in the record would name other channels,
    // or be refused outright.
    receiver.join(group, kLoopback, 0);
    otherChannel.join(group, *net::Address::parseV4("192.0.2.7"), 0);
    sendToGroup("232.1.2.3", port);
    sendToGroup("232.1.2.3", otherPort);
    receiver.receive(500, net::AfterDatagram::KeepListening);
    otherChannel.receive(100, net::AfterDatagram::KeepListening);
    EXPECT_EQ(receiver.members().size(), 1U);
    EXPECT_TRUE(otherChannel.members().empty()) << "heard a source it did not ask for";

    receiver.leave(group, kLoopback, 0);
    sendToGroup("232.1.2.3", port);
    receiver.receive(300, net::AfterDatagram::KeepListening);
    ASSERT_EQ(receiver.members().count(kLoopback), 1U);
    EXPECT_EQ(receiver.members().at(kLoopback), 1) << "heard the channel after leaving it";
  } catch (const net::CV_SocketException& failure) {
    FAIL() << failure.description();
  }
}

TEST_F(WinsockSockets, AnySourceMembershipHearsTheGroupOnlyWhileJoined) {
  if (!inOwnNetworkNamespace()) GTEST_SKIP() << "needs a network namespace with only loopback";
  if (testing_support::runningUnderWine()) {
    GTEST_SKIP() << "Wine refuses the family-neutral membership requests (WSAENOPROTOOPT), "
                    "which Windows has had since Vista";
  }
  testing_support::WatchedNetwork network;
  const std::uint16_t port = freeUdpPort();
  GroupReceiver receiver(network, net::Family::V4, port);
  const net::Address group = *net::Address::parseV4("239.1.2.3");
  sendToGroup("239.1.2.3", port);
  receiver.join(group, std::nullopt, 0);
  sendToGroup("239.1.2.3", port);
  receiver.receive(500, net::AfterDatagram::KeepListening);
  receiver.leave(group, std::nullopt, 0);
  sendToGroup("239.1.2.3", port);
  receiver.receive(300, net::AfterDatagram::KeepListening);
  ASSERT_EQ(receiver.members().size(), 1U);
  EXPECT_EQ(receiver.members().begin()->second, 1)
      << "only the datagram sent while a member counts";
}

// Raw IGMP sockets are what Wine grants; the receive-all modes work from
// any bound raw socket.
class LoopbackIgmpSocket : public net::RawSocket {
 public:
  LoopbackIgmpSocket() : net::RawSocket(net::Family::V4, IPPROTO_IGMP) {
    bind(net::Endpoint{kLoopback, 0});
  }
};

TEST_F(WinsockSockets, ReceiveAllSeesEveryProtocolOnTheBoundAddress) {
  try {
    LoopbackIgmpSocket capture;
    capture.enableReceiveAll();
    const std::uint16_t port = freeUdpPort();
    const net::UdpSocket target(net::Family::V4, port);
    Sender().send(port);
    std::array<std::uint8_t, 4096> buffer{};
    for (int reads = 0; reads < 50 && queued(capture); ++reads) {
      const net::ReadResult read = capture.read(buffer);
      if (read.size >= 28 && buffer[9] == IPPROTO_UDP) return;
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
    socket.sendTo(report, net::Endpoint{kLoopback, 0});
    ASSERT_TRUE(queued(socket));
    std::array<std::uint8_t, 4096> buffer{};
    ASSERT_EQ(socket.read(buffer).size, 28U);
    EXPECT_EQ(buffer[9], IPPROTO_IGMP);
    EXPECT_EQ(buffer[20], 0x16);
  } catch (const net::CV_RawSocketException& failure) {
    GTEST_SKIP() << "no raw sockets here: " << failure.description();
  }
}

// The Hello's path: a raw socket of protocol 103 sends PIM, not protocol 0.
TEST_F(WinsockSockets, PimSocketSendsAsProtocol103) {
  try {
    net::RawSocket socket(net::Family::V4, kPimProtocol);
    socket.bind(net::Endpoint{kLoopback, 0});
    const std::array<std::uint8_t, 4> hello{0x20, 0, 0, 0};
    socket.sendTo(hello, net::Endpoint{kLoopback, 0});
    ASSERT_TRUE(queued(socket));
    std::array<std::uint8_t, 4096> buffer{};
    ASSERT_EQ(socket.read(buffer).size, 24U);
    EXPECT_EQ(buffer[9], kPimProtocol);
  } catch (const net::CV_RawSocketException& failure) {
    GTEST_SKIP() << "no raw PIM sockets here (Wine grants raw ICMP and IGMP only): "
                 << failure.description();
  }
}

}  // namespace
