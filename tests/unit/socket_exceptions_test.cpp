#include "net/socket_exceptions.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "net/platform.h"
#include "net/socket.h"

namespace {

TEST(SocketExceptions, SocketFailureNamesOperationRunningIntoFailed) {
  EXPECT_EQ(net::CV_SocketException(10022, "Bind").description(),
            "Exception while running test : Bindfailed with error code : 10022\n");
  EXPECT_EQ(net::CV_SocketException(-3, "getaddrinfo").description(),
            "Exception while running test : getaddrinfofailed with error code : -3\n");
}

TEST(SocketExceptions, RawSocketFailureHintsAtPrivilege) {
  EXPECT_EQ(net::CV_RawSocketException(10047).description(),
            "Raw socket usage failed with error : 10047. You might not have administrative "
            "privilege. \n");
  EXPECT_EQ(net::CV_RawSocketException(-1).description(),
            "Raw socket usage failed with error : -1. You might not have administrative "
            "privilege. \n");
}

TEST(SocketExceptions, HandlersForOneClassLetTheOtherPass) {
  bool rawCaught = false;
  try {
    try {
      throw net::CV_RawSocketException(1);
    } catch (const net::CV_SocketException&) {
      FAIL() << "a socket-failure handler caught a raw-socket failure";
    }
  } catch (const net::CV_RawSocketException&) {
    rawCaught = true;
  }
  EXPECT_TRUE(rawCaught);

  bool socketCaught = false;
  try {
    try {
      throw net::CV_SocketException(1, "select");
    } catch (const net::CV_RawSocketException&) {
      FAIL() << "a raw-socket handler caught a socket failure";
    } catch (const std::exception&) {
      FAIL() << "a standard-library handler caught a socket failure";
    }
  } catch (const net::CV_SocketException&) {
    socketCaught = true;
  }
  EXPECT_TRUE(socketCaught);
}

// A call on no socket fails on every platform without touching the network.
TEST(SocketExceptions, ThrowSocketErrorCarriesTheFailedCallsOwnError) {
  std::array<std::uint8_t, 4> buffer{};
  net::SocketAddress from;
  ASSERT_EQ(net::os::recvFrom(net::kInvalidSocket, buffer, from), -1);
  const int error = net::lastSocketError();
  ASSERT_NE(error, 0);
  try {
    net::throwSocketError("recvFrom");
  } catch (const net::CV_SocketException& failure) {
    EXPECT_EQ(failure.errorCode, error);
    EXPECT_EQ(failure.operation, "recvFrom");
    EXPECT_EQ(failure.description(),
              "Exception while running test : recvFromfailed with error code : " +
                  std::to_string(error) + "\n");
    return;
  }
  FAIL() << "nothing was thrown";
}

}  // namespace
