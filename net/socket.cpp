#include "net/socket.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "net/packet/ip_datagram.h"
#include "net/privilege.h"
#include "net/socket_exceptions.h"

namespace net {

void throwSocketError(const char* operation) {
  // Read the error before anything else can touch it.
  const int error = lastSocketError();
  throw CV_SocketException(error, operation);
}

NativeSocket Socket::readHandle() const {
  return capture_.valid() ? capture_.get() : handle_.get();
}

void Socket::sendTo(std::span<const std::uint8_t> message, const Endpoint& destination) {
  if (os::sendTo(handle_.get(), message, socketAddressOf(destination)) == -1) {
    throwSocketError("sendTo");
  }
}

void Socket::sendIfInterrupted(std::span<const std::uint8_t> message, const Endpoint& destination) {
  owed_.arm(handle_.get(), message, socketAddressOf(destination));
}

void Socket::attachCapture(UniqueSocket capture, const Address& ownAddress) {
  capture_ = std::move(capture);
  captureOwnAddress_ = ownAddress;
}

namespace {

// The IPv6 header a raw IPv6 socket's read lacks, from what the read tells:
// its sender and protocol. The hop limit and destination are not told, and
// stay zero.
void putIpv6Header(std::span<std::uint8_t> header, std::uint8_t nextHeader,
                   std::size_t payloadLength, const Address& sender) {
  std::fill(header.begin(), header.end(), std::uint8_t{0});
  header[0] = 0x60;
  header[4] = static_cast<std::uint8_t>(payloadLength >> 8U);
  header[5] = static_cast<std::uint8_t>(payloadLength & 0xFFU);
  header[6] = nextHeader;
  const auto source = sender.bytes();
  if (source.size() == 16) std::copy(source.begin(), source.end(), header.begin() + 8);
}

}  // namespace

void Socket::attachCapture(std::unique_ptr<DatagramSource> capture) {
  linkCapture_ = std::move(capture);
}

ReadResult Socket::read(std::span<std::uint8_t> buffer) {
  SocketAddress from;
  const bool putHeader = headerToPut_.has_value() && !capture_.valid();
  const std::size_t headerRoom = putHeader ? kIpv6HeaderLength : 0;
  const int received = os::recvFrom(readHandle(), buffer.subspan(headerRoom), from);
  if (received == -1) throwSocketError("recvFrom");
  ReadResult result;
  result.size = static_cast<std::size_t>(received);
  if (putHeader) {
    result.sender = endpointOf(from);
    putIpv6Header(buffer.first(headerRoom), *headerToPut_, result.size, result.sender.address);
    result.size += headerRoom;
    return result;
  }
  if (!capture_.valid()) {
    result.sender = endpointOf(from);
    return result;
  }
  // A capture reports the link-layer sender; the sender that counts is the
  // datagram's own IP source.
  const auto datagram = parseDatagram(buffer.first(result.size));
  result.sender = Endpoint{datagram ? datagram->source : anyAddress(family_), 0};
  // Some captures hand back what this host sent itself; a header's address
  // names no zone.
  if (result.sender.address == captureOwnAddress_.withScope(0)) {
    result.kind = ReadResult::Kind::OwnPacket;
  }
  return result;
}

bool Socket::waitReadable(Deadline& deadline) {
  const int ready = deadline.waitReadable(readHandle());
  if (ready == -1) throwSocketError("select");
  return ready > 0;
}

// The socket's queue, or the receive-all socket that replaced it: one
// datagram a read.
class Socket::QueueReader final : public DatagramSource {
 public:
  explicit QueueReader(Socket& socket) : socket_(socket) {}

  [[nodiscard]] NativeSocket waitHandle() const override { return socket_.readHandle(); }

  AfterDatagram readNow(const DatagramHandler& onDatagram, TimePoint /*end*/) override {
    const ReadResult read = socket_.read(buffer_);
    if (read.kind == ReadResult::Kind::OwnPacket) return AfterDatagram::KeepListening;
    return onDatagram(ReceivedDatagram{std::span<const std::uint8_t>(buffer_.data(), read.size),
                                       read.sender, std::chrono::steady_clock::now()});
  }

 private:
  Socket& socket_;
  std::array<std::uint8_t, kReceiveBufferSize> buffer_{};
};

void Socket::listen(std::int32_t timeOutMs, const DatagramHandler& onDatagram) {
  if (linkCapture_) {
    listenOn(*linkCapture_, timeOutMs, onDatagram);
    return;
  }
  QueueReader queue(*this);
  listenOn(queue, timeOutMs, onDatagram);
}

void Socket::drain(const DatagramHandler& onDatagram) {
  const auto now = std::chrono::steady_clock::now();
  if (linkCapture_) {
    if (linkCapture_->readNow(onDatagram, now) == AfterDatagram::StopListening) return;
    linkCapture_->readOwed(onDatagram, now);
    return;
  }
  QueueReader queue(*this);
  // A link that keeps sending must not keep the drain going for ever.
  constexpr int kMostDrained = 4096;
  for (int drained = 0; drained < kMostDrained; ++drained) {
    const int ready = os::selectReadable(readHandle(), 0);
    if (ready == -1) throwSocketError("select");
    if (ready == 0 || queue.readNow(onDatagram, now) == AfterDatagram::StopListening) return;
  }
}

void Socket::setOption(int level, int option, const void* value, int length) {
  if (os::setOption(handle_.get(), level, option, value, length) == -1) {
    throwSocketError("SetOption");
  }
}

void Socket::bind(const Endpoint& local) {
  if (os::bindTo(handle_.get(), socketAddressOf(local)) == -1) throwSocketError("Bind");
}

// Group memberships with the family-neutral requests (RFC 3678 5.2; Windows
// since Vista): the same records for IPv4 and IPv6, the interface named by
// its index.
namespace {

// The option and its level: IPPROTO_IP on an IPv4 socket, IPPROTO_IPV6 on an IPv6 one.
int levelFor(Family family) { return family == Family::V4 ? IPPROTO_IP : IPPROTO_IPV6; }

int optionFor(Membership change, bool sourceSpecific) {
  if (sourceSpecific) {
    return change == Membership::Join ? MCAST_JOIN_SOURCE_GROUP : MCAST_LEAVE_SOURCE_GROUP;
  }
  return change == Membership::Join ? MCAST_JOIN_GROUP : MCAST_LEAVE_GROUP;
}

void copyInto(sockaddr_storage& target, const Address& address) {
  const SocketAddress native = socketAddressOf(Endpoint{address, 0});
  std::memcpy(&target, &native.storage, sizeof target);
}

}  // namespace

void Socket::changeMembership(Membership change, const Address& group,
                              const std::optional<Address>& source, unsigned int interfaceIndex) {
  const int level = levelFor(family());
  const int option = optionFor(change, source.has_value());
  if (source) {
    group_source_req request;
    std::memset(&request, 0, sizeof request);
    request.gsr_interface = interfaceIndex;
    copyInto(request.gsr_group, group);
    copyInto(request.gsr_source, *source);
    setOption(level, option, &request, sizeof request);
  } else {
    group_req request;
    std::memset(&request, 0, sizeof request);
    request.gr_interface = interfaceIndex;
    copyInto(request.gr_group, group);
    setOption(level, option, &request, sizeof request);
  }
}

namespace {

UniqueSocket openUdp(Family family) {
  UniqueSocket opened(os::openSocket(nativeFamily(family), SOCK_DGRAM, IPPROTO_UDP));
  if (!opened.valid()) throwSocketError("socket");
  return opened;
}

UniqueSocket openRaw(Family family, int protocol) {
  const RaisedPrivilege raised;
  UniqueSocket opened(os::openSocket(nativeFamily(family), SOCK_RAW, protocol));
  if (!opened.valid()) throw CV_RawSocketException(lastSocketError());
  return opened;
}

}  // namespace

UdpSocket::UdpSocket(Family family, std::uint16_t port) : Socket(family, openUdp(family)) {
#ifdef IP_MULTICAST_ALL
  // Linux otherwise hands this socket datagrams for every group any socket
  // on the host joined on the same port, and their senders would count.
  if (family == Family::V4) {
    const int onlyOwnGroups = 0;
    setOption(IPPROTO_IP, IP_MULTICAST_ALL, &onlyOwnGroups, sizeof onlyOwnGroups);
  }
#endif
#ifdef IPV6_MULTICAST_ALL
  if (family == Family::V6) {
    const int onlyOwnGroups = 0;
    setOption(IPPROTO_IPV6, IPV6_MULTICAST_ALL, &onlyOwnGroups, sizeof onlyOwnGroups);
  }
#endif
  if (family == Family::V6) {
    // IPv4 datagrams to the same port are no member of an IPv6 group.
    const int v6Only = 1;
    setOption(IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
  }
  bind(Endpoint{anyAddress(family), port});
}

RawSocket::RawSocket(Family family, int protocol) : Socket(family, openRaw(family, protocol)) {
  if (family == Family::V6) putIpv6HeaderOnReads(static_cast<std::uint8_t>(protocol));
}

void RawSocket::bindToLink(const PassLink& link) {
  const LinkInterface& chosen = requireLinkToBindTo(link);
  // Replies that reach the host on another link are not this link's.
  // Kernels before 5.7 want CAP_NET_RAW for it.
  if (chosen.index != 0) {
    const RaisedPrivilege raised;
    if (os::bindToDevice(native(), chosen.name) == -1) throwSocketError("Bind");
  }
  bind(Endpoint{chosen.address, 0});
  linkIndex_ = chosen.index;
  linkName_ = chosen.name;
  if (family() == Family::V4) {
    // Multicast sent from this socket leaves where its capture listens.
    const auto address = chosen.address.bytes();
    setOption(IPPROTO_IP, IP_MULTICAST_IF, address.data(), static_cast<int>(address.size()));
    return;
  }
  // IPv6 names the interface by its index; what the battery sends is for
  // the link's routers alone (MLD and PIM both want hop limit 1).
  const auto index = static_cast<int>(chosen.index);
  setOption(IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
  const int linkOnly = 1;
  setOption(IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &linkOnly, sizeof linkOnly);
  setOption(IPPROTO_IPV6, IPV6_UNICAST_HOPS, &linkOnly, sizeof linkOnly);
}

}  // namespace net
