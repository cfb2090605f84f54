// What a signal settles before the process ends: the owed message goes out on
// its socket, the temporary file goes, and the process still ends by the
// signal. Each case runs in a child process of its own, on loopback.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "net/farewell.h"
#include "net/platform.h"

namespace {

constexpr std::array<std::uint8_t, 8> kLeave{0x17, 0x00, 0x01, 0x02, 0xE9, 0x04, 0xC8, 0x13};

class Farewell : public ::testing::Test {
 protected:
  void SetUp() override {
    receiver_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sender_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(receiver_, 0);
    ASSERT_GE(sender_, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(receiver_, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    to_.length = sizeof to_.storage;
    ASSERT_EQ(::getsockname(receiver_, to_.get(), &to_.length), 0);
    file_ = std::filesystem::temp_directory_path() /
            (".corvanite-farewell-" + std::to_string(net::processId()));
    std::ofstream(file_) << "partial";
  }
  void TearDown() override {
    ::close(receiver_);
    ::close(sender_);
    std::filesystem::remove(file_);
  }

  // Runs `child` in a child process, then says how that process ended.
  template <typename Child>
  int endingSignal(Child child) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      child();
      ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFSIGNALED(status) ? WTERMSIG(status) : -WEXITSTATUS(status);
  }

  // The datagram that reached the receiver within `ms`; empty when none.
  std::vector<std::uint8_t> received(int ms) const {
    pollfd entry{receiver_, POLLIN, 0};
    if (::poll(&entry, 1, ms) != 1) return {};
    std::array<std::uint8_t, 64> buffer{};
    const auto size = ::recv(receiver_, buffer.data(), buffer.size(), 0);
    if (size <= 0) return {};
    return {buffer.begin(), buffer.begin() + size};
  }

  int receiver_ = -1;
  int sender_ = -1;
  net::SocketAddress to_;
  std::filesystem::path file_;
};

TEST_F(Farewell, ASignalSendsWhatIsOwedRemovesTheFileAndStillEndsTheProcess) {
  for (const int signalNumber : {SIGINT, SIGTERM}) {
    const int ending = endingSignal([&] {
      net::settleOnInterrupt();
      net::PendingFarewell owed;
      owed.arm(sender_, kLeave, to_);
      const net::PendingRemoval removal(file_.string());
      ::raise(signalNumber);
    });
    EXPECT_EQ(ending, signalNumber);
    EXPECT_EQ(received(1000), std::vector<std::uint8_t>(kLeave.begin(), kLeave.end()));
    EXPECT_FALSE(std::filesystem::exists(file_));
    std::ofstream(file_) << "partial";
  }
}

TEST_F(Farewell, WhatWasPaidOrRenamedIsLeftAlone) {
  const int ending = endingSignal([&] {
    net::settleOnInterrupt();
    net::PendingFarewell owed;
    owed.arm(sender_, kLeave, to_);
    owed.disarm();
    net::PendingRemoval removal(file_.string());
    removal.disarm();
    {
      // Gone with its scope, as a socket's farewell goes with the socket.
      net::PendingFarewell scoped;
      scoped.arm(sender_, kLeave, to_);
    }
    ::raise(SIGTERM);
  });
  EXPECT_EQ(ending, SIGTERM);
  EXPECT_TRUE(received(200).empty());
  EXPECT_TRUE(std::filesystem::exists(file_));
}

TEST_F(Farewell, ASignalIgnoredAtTheStartStaysIgnored) {
  const int ending = endingSignal([&] {
    std::signal(SIGINT, SIG_IGN);
    net::settleOnInterrupt();
    net::PendingFarewell owed;
    owed.arm(sender_, kLeave, to_);
    ::raise(SIGINT);
  });
  EXPECT_EQ(ending, 0) << "the child went on to its own end";
  EXPECT_TRUE(received(200).empty());
}

}  // namespace
