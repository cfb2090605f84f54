#include "net/socket_exceptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

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

TEST(SocketExceptions, CopyKeepsItsOwnOperationText) {
  std::optional<net::CV_SocketException> original(std::in_place, 4, "recvFrom");
  const net::CV_SocketException copy = *original;
  original.reset();
  EXPECT_EQ(copy.description(),
            "Exception while running test : recvFromfailed with error code : 4\n");
}

}  // namespace
