// What the host's own configuration does to multicast on one interface: the
// settings that can make a host drop traffic or break its own SSM joins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace net {

// A kernel setting by its full name and value, e.g.
// net.ipv4.conf.eth0.force_igmp_version = 2.
struct KernelSetting {
  std::string name;
  int value = 0;
};

struct HostMulticastState {
  // The IGMP version the host is held to on the interface, and the setting
  // that holds it; nothing when no setting holds it.
  std::optional<KernelSetting> forcedIgmpVersion;
  // The IGMP version the interface speaks now (1, 2 or 3): below 3 after an
  // older querier was heard, until that times out.
  std::optional<int> igmpMode;
  // The MLD version the host is held to on the interface (1 or 2), and the
  // setting that holds it; nothing when none does. The kernel shows no MLD
  // compatibility mode (/proc/net/igmp6 and mcfilter6 list only groups).
  std::optional<KernelSetting> forcedMldVersion;
  // Reverse-path filtering in force on the interface: 0 off, 1 strict,
  // 2 loose; the setting that puts it there.
  std::optional<KernelSetting> reversePathFilter;
  // The kernel forwards multicast on the interface, IPv4's and IPv6's apart:
  // a multicast routing daemon on this host has made it one of its
  // interfaces (mc_forwarding, which only the kernel sets). Nothing at 0.
  std::optional<KernelSetting> multicastForwarding;
  std::optional<KernelSetting> multicastForwardingV6;
};

// The settings in force for `interfaceName` where the kernel reads both its
// own and "all"'s. force_igmp_version: 1 in either wins, then 2, then 3
// (the kernel's IGMP_V1_SEEN and IGMP_V2_SEEN). rp_filter: the larger.
// Each names the setting it came from; nothing when neither holds a value.
std::optional<KernelSetting> forcedIgmpVersionIn(const std::string& interfaceName,
                                                 std::optional<int> all, std::optional<int> own);
std::optional<KernelSetting> reversePathFilterIn(const std::string& interfaceName,
                                                 std::optional<int> all, std::optional<int> own);

// force_mld_version in force: "all"'s when it is not 0, else the
// interface's (the kernel's mld_dev_get_force_mld_version); nothing at 0.
std::optional<KernelSetting> forcedMldVersionIn(const std::string& interfaceName,
                                                std::optional<int> all, std::optional<int> own);

// The IGMP version /proc/net/igmp shows for the interface with `index`
// ("2\teth0      :     3      V2" gives 2); nothing when it is not listed.
std::optional<int> igmpModeIn(std::string_view procNetIgmp, unsigned int index);

// The host's state on the interface, read from the platform; empty where it
// has none of it (Windows).
HostMulticastState readHostMulticastState(const std::string& interfaceName, unsigned int index);

}  // namespace net
