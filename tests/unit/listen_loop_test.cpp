#include "net/listen_loop.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#endif

#include "net/platform.h"
#include "net/socket.h"
#include "tests/unit/loopback.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing_support::freeUdpPort;
using testing_support::Sender;

TEST(Deadline, NoTimeLeftEndsTheWaitAtOnceEvenWithADatagramQueued) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  Sender().send(port);
  ASSERT_TRUE(socket.waitReadable(1000));
  for (const std::int32_t none : {0, -5}) {
    net::Deadline deadline(none);
    EXPECT_TRUE(deadline.passed());
    EXPECT_FALSE(socket.waitReadable(deadline)) << none;
  }
}

TEST(Deadline, AQueuedDatagramIsReadBeforeTheDeadlineAndTheWaitNeverEndsEarly) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  const auto start = steady_clock::now();
  net::Deadline deadline(150);
  Sender().send(port);
  ASSERT_TRUE(socket.waitReadable(deadline));
  std::array<std::uint8_t, 64> buffer{};
  sockaddr_in from{};
  EXPECT_EQ(socket.recvFrom(buffer, from), 6);
  // Lower bounds only: a loaded machine may end a wait late, never early.
  EXPECT_FALSE(socket.waitReadable(deadline));
  EXPECT_GE(steady_clock::now() - start, milliseconds(150));
  EXPECT_TRUE(deadline.passed());
  // A deadline that has come stays come.
  EXPECT_FALSE(socket.waitReadable(deadline));
}

TEST(ListenFor, DatagramsThatKeepComingCannotHoldTheLoopPastItsDeadline) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  const Sender sender;
  constexpr int kQueued = 100;
  for (int i = 0; i < kQueued; ++i) sender.send(port, std::to_string(i));
  ASSERT_TRUE(socket.waitReadable(1000));
  // Each datagram takes the handler at least 1 ms, so a loop that honours its
  // 20 ms cannot reach the end of the queue.
  int handled = 0;
  const auto start = steady_clock::now();
  net::listenFor(socket, 20, [&](std::span<const std::uint8_t>, const sockaddr_in&) {
    ++handled;
    net::pauseMs(1);
    return net::AfterDatagram::KeepListening;
  });
  EXPECT_GE(steady_clock::now() - start, milliseconds(20));
  EXPECT_GE(handled, 1);
  EXPECT_LT(handled, kQueued);
}

TEST(ListenFor, TheHandlerEndsTheWaitAndItsDatagramIsWhatWasSent) {
  const std::uint16_t port = freeUdpPort();
  net::UdpSocket socket(SOCK_DGRAM, IPPROTO_UDP, INADDR_ANY, port);
  const Sender sender;
  sender.send(port, "first");
  sender.send(port, "second");
  std::string seen;
  net::listenFor(socket, 60000, [&](std::span<const std::uint8_t> datagram, const sockaddr_in&) {
    seen.assign(datagram.begin(), datagram.end());
    return net::AfterDatagram::StopListening;
  });
  EXPECT_EQ(seen, "first");
  ASSERT_TRUE(socket.waitReadable(0)) << "the loop read past the datagram that stopped it";
}

TEST(PauseMs, LastsItsWholeLength) {
  for (const std::uint32_t length : {1U, 25U}) {
    const auto start = steady_clock::now();
    net::pauseMs(length);
    EXPECT_GE(steady_clock::now() - start, milliseconds(length)) << length;
  }
}

#if !defined(_WIN32)
extern "C" void ignoreSignal(int /*signalNumber*/) {}

// A signal handled without SA_RESTART ends a blocking read with EINTR; the
// pause must still run to its end.
TEST(PauseMs, ASignalDoesNotCutItShort) {
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = ignoreSignal;
  ::sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  const pthread_t pausing = ::pthread_self();
  const auto start = steady_clock::now();
  std::thread interrupter([pausing] {
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(milliseconds(5));
      ::pthread_kill(pausing, SIGUSR1);
    }
  });
  net::pauseMs(80);
  const auto elapsed = steady_clock::now() - start;
  interrupter.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GE(elapsed, milliseconds(80));
}
#endif

}  // namespace
