// The watch's receiver on Linux: one UDP socket per beacon, joined through
// the kernel, read with the kernel's receive stamp and the TTL; packet
// sockets for the link's IGMP or MLD and PIM, outgoing frames included, so
// that the host's own reports show. One poll over all of them: a quiet link
// wakes the process for nothing.
#include "net/watch_link.h"

#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "net/linux/capture_programs.h"
#include "net/privilege.h"
#include "net/socket_exceptions.h"
#include "net/unique_socket.h"

namespace net {
namespace {

constexpr std::uint8_t kIgmpProtocol = 2;
constexpr std::uint8_t kPimProtocol = 103;
constexpr std::uint8_t kIcmpv6Protocol = 58;
// MLD's query, v1 report, v1 done and v2 report (RFC 2710, RFC 3810).
constexpr std::array<std::uint8_t, 4> kMldTypes{130, 131, 132, 143};
// PIM version 2, type Hello.
constexpr std::array<std::uint8_t, 1> kPimHello{0x20};
// A beacon's datagram or a membership message fits; a larger one is cut
// and still counted.
constexpr std::size_t kReadBuffer = 2048;
// Reads of one socket per wake: a flood cannot keep the loop on one socket,
// nor pile up what a wake hands over.
constexpr int kMostReadsPerWake = 256;

[[noreturn]] void fail(const char* operation) { throw CV_SocketException(errno, operation); }

void setOption(int handle, int level, int name, int value, const char* operation) {
  if (::setsockopt(handle, level, name, &value, sizeof value) != 0) fail(operation);
}

WatchTime stampOf(msghdr& message) {
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
      return WatchTime(std::chrono::duration_cast<WatchTime::duration>(
          std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
    }
  }
  return std::chrono::system_clock::now();
}

int ttlOf(msghdr& message) {
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    const bool v4 = header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_TTL;
    const bool v6 = header->cmsg_level == IPPROTO_IPV6 && header->cmsg_type == IPV6_HOPLIMIT;
    if (v4 || v6) {
      int ttl = 0;
      std::memcpy(&ttl, CMSG_DATA(header), sizeof ttl);
      return ttl;
    }
  }
  return 0;
}

// An IPv4 packet socket's program: version 4, IGMP or PIM, whole.
std::vector<sock_filter> ipv4Program() {
  return {
      {BPF_LD | BPF_B | BPF_ABS, 0, 0, 0},
      {BPF_ALU | BPF_AND | BPF_K, 0, 0, 0xF0},
      {BPF_JMP | BPF_JEQ | BPF_K, 0, 4, 0x40},
      {BPF_LD | BPF_B | BPF_ABS, 0, 0, 9},
      {BPF_JMP | BPF_JEQ | BPF_K, 1, 0, kIgmpProtocol},
      {BPF_JMP | BPF_JEQ | BPF_K, 0, 1, kPimProtocol},
      {BPF_RET | BPF_K, 0, 0, linux_if::kKeepWhole},
      {BPF_RET | BPF_K, 0, 0, 0},
  };
}

class LinuxLinkWatcher final : public LinkWatcher {
 public:
  LinuxLinkWatcher(Family family, const LinkInterface& link,
                   const std::vector<WatchedBeacon>& beacons)
      : family_(family) {
    for (const WatchedBeacon& beacon : beacons) beacons_.push_back(openBeacon(beacon, link));
    try {
      if (family == Family::V4) {
        captures_.push_back(openCapture(link, ETH_P_ALL, ipv4Program()));
      } else {
        // Outgoing frames show only to ETH_P_ALL: the host's reports need it,
        // PIM Hellos come in.
        captures_.push_back(
            openCapture(link, ETH_P_ALL, linux_if::ipv6CaptureProgram(kIcmpv6Protocol, kMldTypes)));
        captures_.push_back(
            openCapture(link, ETH_P_IPV6, linux_if::ipv6CaptureProgram(kPimProtocol, kPimHello)));
      }
    } catch (const CV_SocketException& failure) {
      captures_.clear();
      captureProblem_ = failure.description();
    }
  }

  void wait(std::chrono::milliseconds timeout,
            const std::function<void(const BeaconArrival&)>& onBeacon,
            const std::function<void(const LinkFrame&)>& onFrame) override {
    std::vector<pollfd> waiting;
    for (const UniqueSocket& beacon : beacons_) waiting.push_back({beacon.get(), POLLIN, 0});
    for (const UniqueSocket& capture : captures_) waiting.push_back({capture.get(), POLLIN, 0});
    const int ready = ::poll(waiting.data(), waiting.size(),
                             static_cast<int>(std::max<std::int64_t>(0, timeout.count())));
    if (ready < 0) {
      if (errno == EINTR) return;
      fail("poll");
    }
    for (std::size_t at = 0; at < beacons_.size(); ++at) {
      if (waiting[at].revents != 0) readBeacon(at, onBeacon);
    }
    for (std::size_t at = 0; at < captures_.size(); ++at) {
      if (waiting[beacons_.size() + at].revents != 0) readCapture(captures_[at].get(), onFrame);
    }
  }

  [[nodiscard]] bool capturing() const override { return !captures_.empty(); }
  [[nodiscard]] std::string captureProblem() const override { return captureProblem_; }

 private:
  UniqueSocket openBeacon(const WatchedBeacon& beacon, const LinkInterface& link) {
    const bool v4 = family_ == Family::V4;
    UniqueSocket opened(::socket(v4 ? AF_INET : AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK, IPPROTO_UDP));
    if (!opened.valid()) fail("socket");
    const int handle = opened.get();
    setOption(handle, SOL_SOCKET, SO_REUSEADDR, 1, "setsockopt(SO_REUSEADDR)");
    setOption(handle, SOL_SOCKET, SO_TIMESTAMPNS, 1, "setsockopt(SO_TIMESTAMPNS)");
    // Only this socket's own group: another program's on the same port
    // would count as this beacon's otherwise.
    if (v4) {
      setOption(handle, IPPROTO_IP, IP_MULTICAST_ALL, 0, "setsockopt(IP_MULTICAST_ALL)");
      setOption(handle, IPPROTO_IP, IP_RECVTTL, 1, "setsockopt(IP_RECVTTL)");
    } else {
      setOption(handle, IPPROTO_IPV6, IPV6_V6ONLY, 1, "setsockopt(IPV6_V6ONLY)");
      setOption(handle, IPPROTO_IPV6, IPV6_MULTICAST_ALL, 0, "setsockopt(IPV6_MULTICAST_ALL)");
      setOption(handle, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1, "setsockopt(IPV6_RECVHOPLIMIT)");
    }
    const SocketAddress any =
        socketAddressOf(Endpoint{v4 ? Address::v4(0) : *Address::parse("::"), beacon.port});
    if (::bind(handle, any.get(), any.length) != 0) fail("bind");
    const SocketAddress group = socketAddressOf(Endpoint{beacon.group, 0});
    if (beacon.source) {
      group_source_req request{};
      request.gsr_interface = link.index;
      std::memcpy(&request.gsr_group, &group.storage, sizeof request.gsr_group);
      const SocketAddress source = socketAddressOf(Endpoint{*beacon.source, 0});
      std::memcpy(&request.gsr_source, &source.storage, sizeof request.gsr_source);
      if (::setsockopt(handle, v4 ? IPPROTO_IP : IPPROTO_IPV6, MCAST_JOIN_SOURCE_GROUP, &request,
                       sizeof request) != 0) {
        fail("setsockopt(MCAST_JOIN_SOURCE_GROUP)");
      }
    } else {
      group_req request{};
      request.gr_interface = link.index;
      std::memcpy(&request.gr_group, &group.storage, sizeof request.gr_group);
      if (::setsockopt(handle, v4 ? IPPROTO_IP : IPPROTO_IPV6, MCAST_JOIN_GROUP, &request,
                       sizeof request) != 0) {
        fail("setsockopt(MCAST_JOIN_GROUP)");
      }
    }
    return opened;
  }

  static UniqueSocket openCapture(const LinkInterface& link, int protocol,
                                  const std::vector<sock_filter>& program) {
    UniqueSocket opened;
    {
      const RaisedPrivilege raised;
      opened = UniqueSocket(::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK,
                                     htons(static_cast<std::uint16_t>(protocol))),
                            UniqueSocket::Closing::InBackground);
    }
    if (!opened.valid()) fail("socket(AF_PACKET)");
    const int handle = opened.get();
    const std::vector<sock_filter> guarded = linux_if::withoutOtherHosts(program);
    const sock_fprog filter{static_cast<unsigned short>(guarded.size()),
                            const_cast<sock_filter*>(guarded.data())};
    if (::setsockopt(handle, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) != 0) {
      fail("setsockopt(SO_ATTACH_FILTER)");
    }
    setOption(handle, SOL_SOCKET, SO_TIMESTAMPNS, 1, "setsockopt(SO_TIMESTAMPNS)");
    sockaddr_ll bound{};
    bound.sll_family = AF_PACKET;
    bound.sll_protocol = htons(static_cast<std::uint16_t>(protocol));
    bound.sll_ifindex = static_cast<int>(link.index);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) fail("bind");
    // PIM Hellos go to a group the host has not joined.
    packet_mreq allMulticast{};
    allMulticast.mr_ifindex = static_cast<int>(link.index);
    allMulticast.mr_type = PACKET_MR_ALLMULTI;
    if (::setsockopt(handle, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &allMulticast,
                     sizeof allMulticast) != 0) {
      fail("setsockopt(PACKET_ADD_MEMBERSHIP)");
    }
    return opened;
  }

  // Ancillary data of one read: the kernel's receive stamp and the TTL.
  using Control = std::array<char, 256>;

  // Reads one datagram or frame into buffer_, its sender into NAME and its
  // ancillary data into CONTROL, as MESSAGE tells them; -1 once the socket
  // has no more to read.
  template <typename Name>
  ssize_t receive(int handle, Name& name, msghdr& message, Control& control) {
    iovec data{buffer_.data(), buffer_.size()};
    message = msghdr{};
    message.msg_name = &name;
    message.msg_namelen = sizeof name;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t length = ::recvmsg(handle, &message, 0);
    // The payload is in buffer_; nothing is to read through data after this.
    message.msg_iov = nullptr;
    message.msg_iovlen = 0;
    if (length < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return -1;
      fail("recvFrom");
    }
    return length;
  }

  void readBeacon(std::size_t at, const std::function<void(const BeaconArrival&)>& onBeacon) {
    for (int read = 0; read < kMostReadsPerWake; ++read) {
      sockaddr_storage from{};
      alignas(cmsghdr) Control control{};
      msghdr message{};
      if (receive(beacons_[at].get(), from, message, control) < 0) return;
      SocketAddress sender;
      sender.storage = from;
      sender.length = message.msg_namelen;
      onBeacon(BeaconArrival{at, endpointOf(sender).address, ttlOf(message), stampOf(message)});
    }
  }

  void readCapture(int handle, const std::function<void(const LinkFrame&)>& onFrame) {
    for (int read = 0; read < kMostReadsPerWake; ++read) {
      sockaddr_ll from{};
      alignas(cmsghdr) Control control{};
      msghdr message{};
      const ssize_t length = receive(handle, from, message, control);
      if (length < 0) return;
      const auto kept = std::min(static_cast<std::size_t>(length), buffer_.size());
      onFrame(LinkFrame{std::span<const std::uint8_t>(buffer_.data(), kept),
                        from.sll_pkttype == PACKET_OUTGOING, stampOf(message)});
    }
  }

  Family family_;
  std::vector<UniqueSocket> beacons_;
  std::vector<UniqueSocket> captures_;
  std::string captureProblem_;
  std::array<std::uint8_t, kReadBuffer> buffer_{};
};

}  // namespace

std::unique_ptr<LinkWatcher> openLinkWatcher(Family family, const LinkInterface& link,
                                             const std::vector<WatchedBeacon>& beacons) {
  return std::make_unique<LinuxLinkWatcher>(family, link, beacons);
}

std::optional<unsigned int> linkIndexIfUp(const std::string& name) {
  const unsigned int index = ::if_nametoindex(name.c_str());
  if (index == 0 || name.size() >= IFNAMSIZ) return std::nullopt;
  const UniqueSocket probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!probe.valid()) return std::nullopt;
  ifreq request{};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  if (::ioctl(probe.get(), SIOCGIFFLAGS, &request) != 0) return std::nullopt;
  const auto flags = static_cast<unsigned int>(request.ifr_flags);
  if ((flags & IFF_UP) == 0U || (flags & IFF_RUNNING) == 0U) return std::nullopt;
  return index;
}

}  // namespace net
