// Windows keeps no settings of this kind where a program can read them.
#include "net/host_state.h"

namespace net {

HostMulticastState readHostMulticastState(const std::string& /*interfaceName*/,
                                          unsigned int /*index*/) {
  return {};
}

}  // namespace net
