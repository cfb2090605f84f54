// The route back to a sender, asked of the kernel's own routing tables over
// rtnetlink, as reverse-path filtering looks it up.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

#include "net/interfaces.h"

namespace net {

namespace {

// The VRF the interface is enslaved to, whose table its lookups use; 0 when
// it is in none. A bridge or bond master is no VRF: its table is main's.
unsigned int vrfOf(const LinkInterface& link) {
  std::error_code failed;
  const auto master =
      std::filesystem::read_symlink("/sys/class/net/" + link.name + "/master", failed);
  if (failed) return 0;
  std::ifstream uevent("/sys/class/net/" + master.filename().string() + "/uevent");
  std::string line;
  bool vrf = false;
  while (std::getline(uevent, line)) vrf = vrf || line == "DEVTYPE=vrf";
  return vrf ? if_nametoindex(master.filename().c_str()) : 0;
}

// Netlink's 4-byte alignment, without its macros' casts.
constexpr std::size_t aligned(std::size_t length) { return (length + 3U) & ~std::size_t{3}; }

void addAttribute(nlmsghdr& header, std::size_t room, unsigned short type, const void* data,
                  std::size_t length) {
  const std::size_t at = aligned(header.nlmsg_len);
  const std::size_t size = aligned(sizeof(rtattr)) + length;
  if (at + aligned(size) > room) return;
  rtattr attribute{};
  attribute.rta_type = type;
  attribute.rta_len = static_cast<unsigned short>(size);
  auto* bytes = reinterpret_cast<char*>(&header);
  std::memcpy(bytes + at, &attribute, sizeof attribute);
  std::memcpy(bytes + at + aligned(sizeof(rtattr)), data, length);
  header.nlmsg_len = static_cast<std::uint32_t>(at + aligned(size));
}

void addInterfaceName(std::vector<std::string>& names, unsigned int index) {
  std::array<char, IF_NAMESIZE> name{};
  if (if_indextoname(index, name.data()) == nullptr) return;
  std::string found(name.data());
  for (const std::string& known : names) {
    if (known == found) return;
  }
  names.push_back(std::move(found));
}

// The next hops of an RTA_MULTIPATH attribute's payload.
void addNextHops(std::vector<std::string>& names, std::span<const char> payload) {
  std::size_t at = 0;
  while (at + sizeof(rtnexthop) <= payload.size()) {
    rtnexthop hop{};
    std::memcpy(&hop, payload.data() + at, sizeof hop);
    if (hop.rtnh_len < sizeof hop) return;
    addInterfaceName(names, static_cast<unsigned int>(hop.rtnh_ifindex));
    at += aligned(hop.rtnh_len);
  }
}

// The interfaces of a route message's payload (its rtmsg, then attributes):
// its own output interface, or each next hop's of a multipath route.
std::vector<std::string> interfacesOf(std::span<const char> message) {
  std::vector<std::string> names;
  std::size_t at = aligned(sizeof(rtmsg));
  while (at + sizeof(rtattr) <= message.size()) {
    rtattr attribute{};
    std::memcpy(&attribute, message.data() + at, sizeof attribute);
    if (attribute.rta_len < sizeof attribute || at + attribute.rta_len > message.size()) break;
    const auto payload =
        message.subspan(at + aligned(sizeof(rtattr)), attribute.rta_len - aligned(sizeof(rtattr)));
    if (attribute.rta_type == RTA_OIF && payload.size() >= sizeof(std::uint32_t)) {
      std::uint32_t index = 0;
      std::memcpy(&index, payload.data(), sizeof index);
      addInterfaceName(names, index);
    } else if (attribute.rta_type == RTA_MULTIPATH) {
      addNextHops(names, payload);
    }
    at += aligned(attribute.rta_len);
  }
  return names;
}

}  // namespace

std::optional<std::vector<std::string>> routeInterfacesTo(const Address& destination,
                                                          const LinkInterface* link) {
  // A link-local sender is on the link by definition.
  if (!destination.isV4() && destination.isLinkLocal()) {
    if (link == nullptr) return std::nullopt;
    return std::vector<std::string>{link->name};
  }
  const int socketId = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (socketId < 0) return std::nullopt;
  struct Request {
    nlmsghdr header;
    rtmsg route;
    std::array<char, 64> attributes;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = 1;
  request.route.rtm_family = destination.isV4() ? AF_INET : AF_INET6;
  request.route.rtm_dst_len = destination.isV4() ? 32 : 128;
  // The matching entry with every next hop, not the one hop a flow would take:
  // strict filtering accepts any of them.
  request.route.rtm_flags = RTM_F_FIB_MATCH;
  const auto bytes = destination.bytes();
  addAttribute(request.header, sizeof request, RTA_DST, bytes.data(), bytes.size());
  if (link != nullptr) {
    if (const unsigned int vrf = vrfOf(*link); vrf != 0) {
      addAttribute(request.header, sizeof request, RTA_OIF, &vrf, sizeof vrf);
    }
  }
  std::optional<std::vector<std::string>> found;
  std::array<char, 8192> reply{};
  const ssize_t received = send(socketId, &request, request.header.nlmsg_len, 0) < 0
                               ? -1
                               : recv(socketId, reply.data(), reply.size(), 0);
  // The kernel answers one message: the route, or an error.
  if (received >= static_cast<ssize_t>(sizeof(nlmsghdr))) {
    nlmsghdr header{};
    std::memcpy(&header, reply.data(), sizeof header);
    const std::span<const char> payload(
        reply.data() + aligned(sizeof header),
        std::min<std::size_t>(header.nlmsg_len, static_cast<std::size_t>(received)) -
            aligned(sizeof header));
    if (header.nlmsg_type == NLMSG_ERROR && payload.size() >= sizeof(int)) {
      int error = 0;
      std::memcpy(&error, payload.data(), sizeof error);
      // What the kernel answers where no route leads back: unreachable or
      // prohibited, or no entry at all.
      if (error == -ENETUNREACH || error == -EHOSTUNREACH || error == -EACCES) found.emplace();
    } else if (header.nlmsg_type == RTM_NEWROUTE) {
      found = interfacesOf(payload);
    }
  }
  close(socketId);
  return found;
}

}  // namespace net
