#pragma once

#include <ostream>

#include "app/test_record_scope.h"
#include "net/socket_exceptions.h"

// The failure scope of tests 3 to 8: a failed socket call ends the test and
// its description alone is printed; the battery goes on.
template <typename TestBody>
void runInRawSocketScope(std::ostream& out, TestRecord& record, TestBody&& body) {
  try {
    body();
  } catch (const net::CV_RawSocketException& failure) {
    recordFailure(record, failure);
    out << failure.description();
  } catch (const net::CV_SocketException& failure) {
    recordFailure(record, failure);
    out << failure.description();
  }
}
