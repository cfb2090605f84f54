// The IP datagram inside a captured frame. A capture hands over whole frames
// of the interface's link type; the readers want the datagram, header first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace net {

// libpcap's numbers for the link types a capture of an IP interface has on
// Linux: Ethernet (and loopback, veth, bridges), bare IP (tun, WireGuard),
// and the cooked headers libpcap gives links it has no number for (PPP, ...).
enum class LinkType : int {
  Ethernet = 1,
  RawIp = 12,
  LinuxCooked = 113,
  Ipv4 = 228,
  Ipv6 = 229,
  LinuxCooked2 = 276,
};

// Whether frames of libpcap's link type `linkType` can be read.
bool isReadableLinkType(int linkType);

// The IP datagram `frame` carries, from its header on: nothing for a frame
// of another network protocol (ARP), one tagged for a VLAN (another link's
// traffic), one too short for its own link header, or a link type that
// isReadableLinkType refuses.
std::optional<std::span<const std::uint8_t>> ipDatagramOf(int linkType,
                                                          std::span<const std::uint8_t> frame);

}  // namespace net
