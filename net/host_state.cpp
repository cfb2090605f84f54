#include "net/host_state.h"

#include <charconv>

namespace net {

namespace {

std::string settingName(const std::string& interfaceName, const char* setting,
                        const char* family = "ipv4") {
  return std::string("net.") + family + ".conf." + interfaceName + "." + setting;
}

}  // namespace

std::optional<KernelSetting> forcedIgmpVersionIn(const std::string& interfaceName,
                                                 std::optional<int> all, std::optional<int> own) {
  for (const int version : {1, 2, 3}) {
    if (own == version)
      return KernelSetting{settingName(interfaceName, "force_igmp_version"), version};
    if (all == version) return KernelSetting{settingName("all", "force_igmp_version"), version};
  }
  return std::nullopt;
}

std::optional<KernelSetting> forcedMldVersionIn(const std::string& interfaceName,
                                                std::optional<int> all, std::optional<int> own) {
  if (all.value_or(0) != 0) {
    return KernelSetting{settingName("all", "force_mld_version", "ipv6"), *all};
  }
  if (own.value_or(0) != 0) {
    return KernelSetting{settingName(interfaceName, "force_mld_version", "ipv6"), *own};
  }
  return std::nullopt;
}

std::optional<KernelSetting> reversePathFilterIn(const std::string& interfaceName,
                                                 std::optional<int> all, std::optional<int> own) {
  if (!all && !own) return std::nullopt;
  if (own.value_or(0) >= all.value_or(0)) {
    return KernelSetting{settingName(interfaceName, "rp_filter"), own.value_or(0)};
  }
  return KernelSetting{settingName("all", "rp_filter"), all.value_or(0)};
}

std::optional<int> igmpModeIn(std::string_view procNetIgmp, unsigned int index) {
  while (!procNetIgmp.empty()) {
    const auto end = procNetIgmp.find('\n');
    const std::string_view line = procNetIgmp.substr(0, end);
    procNetIgmp.remove_prefix(end == std::string_view::npos ? procNetIgmp.size() : end + 1);
    // An interface's line begins with its index; its groups' lines with a tab.
    unsigned int listed = 0;
    const auto [after, error] = std::from_chars(line.data(), line.data() + line.size(), listed);
    if (error != std::errc{} || listed != index) continue;
    const auto mode = line.rfind('V');
    if (mode == std::string_view::npos || mode + 1 >= line.size()) return std::nullopt;
    const char digit = line[mode + 1];
    if (digit < '1' || digit > '3') return std::nullopt;
    return digit - '0';
  }
  return std::nullopt;
}

}  // namespace net
