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
using testing_support::queued;
using testing_support::Sender;

// A socket of the tool's on a free port, and the test's own sender to it.
struct Listening {
  std::uint16_t port = freeUdpPort();
  net::UdpSocket socket{net::Family::V4, port};
  Sender sender;
};

TEST(Deadline, NoTimeLeftEndsTheWaitAtOnceEvenWithADatagramQueued) {
  Listening at;
  at.sender.send(at.port);
  ASSERT_TRUE(queued(at.socket));
  for (const std::int32_t none : {0, -5}) {
    net::Deadline deadline(none);
    EXPECT_TRUE(deadline.passed());
    EXPECT_FALSE(at.socket.waitReadable(deadline)) << none;
  }
}

TEST(Deadline, AQueuedDatagramIsReadBeforeTheDeadlineAndTheWaitNeverEndsEarly) {
  Listening at;
  const auto start = steady_clock::now();
  net::Deadline deadline(150);
  at.sender.send(at.port);
  ASSERT_TRUE(at.socket.waitReadable(deadline));
  std::array<std::uint8_t, 64> buffer{};
  EXPECT_EQ(at.socket.read(buffer).size, 6U);
  // Lower bounds only: a loaded machine may end a wait late, never early.
  EXPECT_FALSE(at.socket.waitReadable(deadline));
  EXPECT_GE(steady_clock::now() - start, milliseconds(150));
  EXPECT_TRUE(deadline.passed());
  // A deadline that has come stays come.
  EXPECT_FALSE(at.socket.waitReadable(deadline));
}

TEST(Listen, DatagramsThatKeepComingCannotHoldTheLoopPastItsDeadline) {
  Listening at;
  constexpr int kQueued = 100;
  for (int i = 0; i < kQueued; ++i) at.sender.send(at.port, std::to_string(i));
  ASSERT_TRUE(queued(at.socket));
  // Each datagram takes the handler at least 1 ms, so a loop that honours its
  // 20 ms cannot reach the end of the queue.
  int handled = 0;
  const auto start = steady_clock::now();
  at.socket.listen(20, [&](const net::ReceivedDatagram&) {
    ++handled;
    net::pauseMs(1);
    return net::AfterDatagram::KeepListening;
  });
  EXPECT_GE(steady_clock::now() - start, milliseconds(20));
  EXPECT_GE(handled, 1);
  EXPECT_LT(handled, kQueued);
}

TEST(Listen, TheHandlerEndsTheWaitAndItsDatagramIsWhatWasSent) {
  Listening at;
  at.sender.send(at.port, "first");
  at.sender.send(at.port, "second");
  std::string seen;
  net::Endpoint from;
  const auto before = steady_clock::now();
  steady_clock::time_point arrival;
  at.socket.listen(60000, [&](const net::ReceivedDatagram& datagram) {
    seen.assign(datagram.bytes.begin(), datagram.bytes.end());
    from = datagram.sender;
    arrival = datagram.arrival;
    return net::AfterDatagram::StopListening;
  });
  EXPECT_EQ(seen, "first");
  EXPECT_EQ(from, (net::Endpoint{testing_support::kLoopback, at.sender.port()}));
  EXPECT_GE(arrival, before);
  EXPECT_LE(arrival, steady_clock::now());
  ASSERT_TRUE(queued(at.socket)) << "the loop read past the datagram that stopped it";
  std::array<std::uint8_t, 64> buffer{};
  EXPECT_EQ(at.socket.read(buffer).size, 6U);
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
