#include "net/socket_exceptions.h"

#include <utility>

namespace net {

CV_SocketException::CV_SocketException(std::int32_t errorCode_, std::string operation_)
    : errorCode(errorCode_), operation(std::move(operation_)) {}

std::string CV_SocketException::description() const {
  // The operation name runs straight into "failed": that is the tool's text.
  return "Exception while running test : " + operation +
         "failed with error code : " + std::to_string(errorCode) + "\n";
}

CV_PlatformLacksException::CV_PlatformLacksException(std::int32_t errorCode_, std::string option_,
                                                     std::string lacking_)
    : errorCode(errorCode_), option(std::move(option_)), lacking(std::move(lacking_)) {}

CV_RawSocketException::CV_RawSocketException(std::int32_t errorCode_) : errorCode(errorCode_) {}

std::string CV_RawSocketException::description() const {
  return "Raw socket usage failed with error : " + std::to_string(errorCode) +
         ". You might not have administrative privilege. \n";
}

}  // namespace net
