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

NativeSocket Socket::readHandle() const { return capturing() ? capture_.get() : handle_.get(); }

void Socket::sendTo(std::span<const std::uint8_t> message, const Endpoint& destination) {
  if (os::sendTo(handle_.get(), message, socketAddressOf(destination)) == -1) {
    throwSocketError("sendTo");
  }
}

void Socket::attachCapture(UniqueSocket capture, const Address& ownAddress) {
  capture_ = std::move(capture);
  captureOwnAddress_ = ownAddress;
}

ReadResult Socket::read(std::span<std::uint8_t> buffer) {
  SocketAddress from;
  const int received = os::recvFrom(readHandle(), buffer, from);
  if (received == -1) throwSocketError("recvFrom");
  ReadResult result;
  result.size = static_cast<std::size_t>(received);
  if (!capturing() && !capturedReads_) {
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

AfterDatagram Socket::readAndHandOn(std::span<std::uint8_t> buffer,
                                    const DatagramHandler& onDatagram) {
  const ReadResult read = this->read(buffer);
  if (read.kind == ReadResult::Kind::OwnPacket) return AfterDatagram::KeepListening;
  const ReceivedDatagram datagram{std::span<const std::uint8_t>(buffer.data(), read.size),
                                  read.sender, std::chrono::steady_clock::now()};
  return onDatagram(datagram);
}

void Socket::listen(std::int32_t timeOutMs, const DatagramHandler& onDatagram) {
  std::array<std::uint8_t, kReceiveBufferSize> buffer{};
  Deadline deadline(timeOutMs);
  while (waitReadable(deadline)) {
    if (readAndHandOn(buffer, onDatagram) == AfterDatagram::StopListening) return;
  }
}

void Socket::drain(const DatagramHandler& onDatagram) {
  std::array<std::uint8_t, kReceiveBufferSize> buffer{};
  // A link that keeps sending must not keep the drain going for ever.
  constexpr int kMostDrained = 4096;
  for (int drained = 0; drained < kMostDrained; ++drained) {
    const int ready = os::selectReadable(readHandle(), 0);
    if (ready == -1) throwSocketError("select");
    if (ready == 0 || readAndHandOn(buffer, onDatagram) == AfterDatagram::StopListening) return;
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
}

}  // namespace net
