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
// A socket option a test needs that this platform does not offer: the test
// cannot run here. `option` names it as the call does, `lacking` says in
// words what is missing, for the failure text.
class CV_PlatformLacksException {
 public:
  CV_PlatformLacksException(std::int32_t errorCode, std::string option, std::string lacking);

  std::int32_t errorCode;
  std::string option;
  std::string lacking;
};
// NOLINTEND(readability-identifier-naming)

}  // namespace net
