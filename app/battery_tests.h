// The eight tests of the IPv4 battery, as the battery table runs them.
#pragma once

#include "app/battery.h"
#include "net/socket_exceptions.h"

void runAsmBeaconTest(const TestContext& context);
void runSsmBeaconTest(const TestContext& context);
void runAllRoutersPingTest(const TestContext& context);
void runSsmRoutersPingTest(const TestContext& context);
void runIgmpV2Test(const TestContext& context);
void runIgmpV3Test(const TestContext& context);
void runPimRoutersPingTest(const TestContext& context);
void runPimTest(const TestContext& context);

// Runs `body`; a socket failure in it ends it and lands in the record. The
// probe objects of the body are gone by then, their sockets closed.
template <typename Body>
void recordingSocketFailures(TestRecord& record, Body&& body) {
  try {
    body();
  } catch (const net::CV_RawSocketException& failure) {
    record.error = TestError{TestError::Kind::RawSocket, std::nullopt, failure.errorCode};
  } catch (const net::CV_SocketException& failure) {
    record.error = TestError{TestError::Kind::SocketCall, failure.operation, failure.errorCode};
  }
}
