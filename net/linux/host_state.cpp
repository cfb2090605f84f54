// The host's multicast settings on Linux, from /proc.
#include "net/host_state.h"

#include <fstream>
#include <sstream>
#include <utility>

namespace net {

namespace {

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::optional<int> readSetting(const std::string& interfaceName, const char* setting,
                               const char* family = "ipv4") {
  const auto text =
      readFile(std::string("/proc/sys/net/") + family + "/conf/" + interfaceName + "/" + setting);
  if (!text) return std::nullopt;
  int value = 0;
  if (!(std::istringstream(*text) >> value)) return std::nullopt;
  return value;
}

}  // namespace

HostMulticastState readHostMulticastState(const std::string& interfaceName, unsigned int index) {
  HostMulticastState state;
  if (interfaceName.empty()) return state;
  state.forcedIgmpVersion =
      forcedIgmpVersionIn(interfaceName, readSetting("all", "force_igmp_version"),
                          readSetting(interfaceName, "force_igmp_version"));
  state.forcedMldVersion =
      forcedMldVersionIn(interfaceName, readSetting("all", "force_mld_version", "ipv6"),
                         readSetting(interfaceName, "force_mld_version", "ipv6"));
  state.reversePathFilter = reversePathFilterIn(interfaceName, readSetting("all", "rp_filter"),
                                                readSetting(interfaceName, "rp_filter"));
  for (const auto& [family, kept] : {std::pair{"ipv4", &state.multicastForwarding},
                                     std::pair{"ipv6", &state.multicastForwardingV6}}) {
    if (const auto forwarding = readSetting(interfaceName, "mc_forwarding", family);
        forwarding.value_or(0) != 0) {
      *kept = KernelSetting{
          std::string("net.") + family + ".conf." + interfaceName + ".mc_forwarding", *forwarding};
    }
  }
  if (const auto igmp = readFile("/proc/net/igmp")) state.igmpMode = igmpModeIn(*igmp, index);
  return state;
}

}  // namespace net
