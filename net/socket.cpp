#include "net/socket.h"

#include <array>

#include "net/ip_datagram.h"
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

void Socket::attachCapture(UniqueSocket capture, const Address& ownAddress) {
  capture_ = std::move(capture);
  captureOwnAddress_ = ownAddress;
}

void Socket::attachCapture(std::unique_ptr<DatagramSource> capture) {
  linkCapture_ = std::move(capture);
}

ReadResult Socket::read(std::span<std::uint8_t> buffer) {
  SocketAddress from;
  const int received = os::recvFrom(readHandle(), buffer, from);
  if (received == -1) throwSocketError("recvFrom");
  ReadResult result;
  result.size = static_cast<std::size_t>(received);
  if (!capture_.valid()) {
    result.sender = endpointOf(from);
    return result;
  }
  // A capture reports the link-layer sender; the sender that counts is the
  // datagram's own IP source.
  const auto datagram = parseDatagram(buffer.first(result.size));
  result.sender = Endpoint{datagram ? datagram->source : anyAddress(family_), 0};
  // Some captures hand back what this host sent itself.
  if (result.sender.address == captureOwnAddress_) result.kind = ReadResult::Kind::OwnPacket;
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

void Socket::setOption(int level, int option, const void* value, int length) {
  if (os::setOption(handle_.get(), level, option, value, length) == -1) {
    throwSocketError("SetOption");
  }
}

void Socket::bind(const Endpoint& local) {
  if (os::bindTo(handle_.get(), socketAddressOf(local)) == -1) throwSocketError("Bind");
}

namespace {

UniqueSocket openUdp(Family family) {
  UniqueSocket opened(os::openSocket(nativeFamily(family), SOCK_DGRAM, IPPROTO_UDP));
  if (!opened.valid()) throwSocketError("socket");
  return opened;
}

UniqueSocket openRaw(Family family, int protocol) {
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
  bind(Endpoint{anyAddress(family), port});
}

RawSocket::RawSocket(Family family, int protocol)
    : Socket(family, openRaw(family, protocol)), protocol_(protocol) {}

void RawSocket::bindToLink(const PassLink& link) {
  const LinkInterface& chosen = requireLinkToBindTo(link);
  // Replies that reach the host on another link are not this link's.
  if (chosen.index != 0 && os::bindToDevice(native(), chosen.name) == -1) {
    throwSocketError("Bind");
  }
  bind(Endpoint{chosen.address, 0});
  // Multicast sent from this socket leaves where its capture listens.
  const auto address = chosen.address.bytes();
  setOption(IPPROTO_IP, IP_MULTICAST_IF, address.data(), static_cast<int>(address.size()));
  linkIndex_ = chosen.index;
  linkName_ = chosen.name;
}

}  // namespace net
