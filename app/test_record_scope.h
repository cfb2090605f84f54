// How a test fills its record: the header it prints, and the socket failure
// that ended it.
#pragma once

#include <ostream>
#include <string>

#include "app/pass_record.h"
#include "net/socket_exceptions.h"

// Prints the header line and keeps it without its tab and line end.
inline void printHeader(std::ostream& out, TestRecord& record, const std::string& line) {
  out << line;
  std::string text = line;
  if (!text.empty() && text.front() == '\t') text.erase(0, 1);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  record.header = text;
}

inline void recordFailure(TestRecord& record, const net::CV_SocketException& failure) {
  record.error = TestError{failure.operation, failure.errorCode};
}

inline void recordFailure(TestRecord& record, const net::CV_RawSocketException& failure) {
  record.error = TestError{std::nullopt, failure.errorCode};
}
