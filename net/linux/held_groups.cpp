#include "net/held_groups.h"

#include <fstream>
#include <sstream>

namespace net {

bool hostHoldsGroup(const Address& group, const std::string& interfaceName) {
  std::ifstream list(group.isV4() ? "/proc/net/igmp" : "/proc/net/igmp6");
  if (!list) return false;
  std::ostringstream text;
  text << list.rdbuf();
  return groupListed(text.str(), group, interfaceName);
}

}  // namespace net
