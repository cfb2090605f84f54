// The two ways a socket call fails. They are deliberately unrelated to each
// other and to std::exception: each failure scope names exactly what it means
// to catch.
#pragma once

#include <cstdint>
#include <string>

namespace net {

// NOLINTBEGIN(readability-identifier-naming): the names are the tool's own.
class CV_SocketException {
 public:
  CV_SocketException(std::int32_t errorCode, std::string operation);

  std::string description() const;

  std::int32_t errorCode;
  std::string operation;
};

class CV_RawSocketException {
 public:
  explicit CV_RawSocketException(std::int32_t errorCode);

  std::string description() const;

  std::int32_t errorCode;
};
// NOLINTEND(readability-identifier-naming)

}  // namespace net
