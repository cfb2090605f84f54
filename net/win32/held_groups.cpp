// Windows keeps its membership list to itself; the tool leaves as it always has there.
#include "net/held_groups.h"

namespace net {

bool hostHoldsGroup(const Address& /*group*/, const std::string& /*interfaceName*/) {
  return false;
}

}  // namespace net
