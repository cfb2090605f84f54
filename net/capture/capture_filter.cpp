#include "net/capture/capture_filter.h"

namespace net {

std::string captureFilter(const std::string& probeFilter, const Address& ownAddress) {
  return "(" + probeFilter + ") and not src host " + ownAddress.toString();
}

}  // namespace net
