// The eight tests of the batteries, as the battery tables run them; each
// speaks the family of its row.
#pragma once

#include "app/battery.h"
#include "net/socket_exceptions.h"

void runAsmBeaconTest(const TestContext& context);
void runSsmBeaconTest(const TestContext& context);
void runAllRoutersPingTest(const TestContext& context);
void runSsmRoutersPingTest(const TestContext& context);
// Tests 5 and 6, of either family: IGMPv2 or MLDv1, then IGMPv3 or MLDv2.
void runAnySourceProbe(const TestContext& context);
void runSourceProbe(const TestContext& context);
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
  } catch (const net::CV_PlatformLacksException& failure) {
    record.error = TestError{TestError::Kind::PlatformLacks, failure.option, failure.errorCode,
                             failure.lacking};
  }
}
