#include "net/socket.h"

#include <cstring>

#include "net/ip_datagram.h"
#include "net/socket_exceptions.h"

namespace net {

void throwSocketError(const char* operation) {
  // Read the error before anything else can touch it.
  const int error = lastSocketError();
  throw CV_SocketException(error, operation);
}

NativeSocket Socket::readHandle() const { return capturing() ? capture_.get() : handle_.get(); }

int Socket::sendTo(std::span<const std::uint8_t> message, const sockaddr_in& destination) {
  const int sent = os::sendTo(handle_.get(), message, destination);
  if (sent == -1) throwSocketError("sendTo");
  return sent;
}

void Socket::attachCapture(UniqueSocket capture, const in_addr& ownAddress) {
  capture_ = std::move(capture);
  captureOwnAddress_ = ownAddress;
}

int Socket::recvFrom(std::span<std::uint8_t> buffer, sockaddr_in& source) {
  const bool captured = capturing();
  const int received = os::recvFrom(readHandle(), buffer, source);
  if (received == -1) throwSocketError("recvFrom");
  if (!captured) return received;
  // A capture reports the link-layer sender; the sender that counts is the
  // datagram's own IP source.
  source = ipSourceOf(buffer.first(static_cast<std::size_t>(received)));
  // What this host sent itself is never evidence of a router: some captures
  // hand back outgoing packets, so they read as empty.
  if (source.sin_addr.s_addr == captureOwnAddress_.s_addr) return 0;
  return received;
}

bool Socket::waitReadable(std::int32_t timeOutMs) {
  const int ready = os::selectReadable(readHandle(), timeOutMs);
  if (ready == -1) throwSocketError("select");
  return ready > 0;
}

bool Socket::waitReadable(Deadline& deadline) {
  const int ready = deadline.waitReadable(readHandle());
  if (ready == -1) throwSocketError("select");
  return ready > 0;
}

void Socket::setOption(int level, int option, const void* value, int length) {
  if (os::setOption(handle_.get(), level, option, value, length) == -1) {
    throwSocketError("SetOption");
  }
}

void Socket::bind(const sockaddr_in& address) {
  if (os::bindTo(handle_.get(), address) == -1) throwSocketError("Bind");
}

namespace {

UniqueSocket openUdp(int type, int protocol) {
  UniqueSocket opened(os::openSocket(AF_INET, type, protocol));
  if (!opened.valid()) throwSocketError("socket");
  return opened;
}

UniqueSocket openRaw(int protocol) {
  UniqueSocket opened(os::openSocket(AF_INET, SOCK_RAW, protocol));
  if (!opened.valid()) throw CV_RawSocketException(lastSocketError());
  return opened;
}

}  // namespace

UdpSocket::UdpSocket(int type, int protocol, std::uint32_t address, std::uint16_t port)
    : Socket(openUdp(type, protocol)) {
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(address);
#ifdef IP_MULTICAST_ALL
  // Linux otherwise hands this socket datagrams for every group any socket
  // on the host joined on the same port, and their senders would count.
  const int onlyOwnGroups = 0;
  setOption(IPPROTO_IP, IP_MULTICAST_ALL, &onlyOwnGroups, sizeof onlyOwnGroups);
#endif
  bind(local);
}

RawSocket::RawSocket(int protocol) : Socket(openRaw(protocol)), protocol_(protocol) {}

void RawSocket::bindToLink(const PassLink& link) {
  if (link.failure) throw *link.failure;
  if (!link.chosen) throw CV_SocketException(kNoSuchDeviceError, "Bind");
  const LinkInterface& chosen = *link.chosen;
  // Replies that reach the host on another link are not this link's.
  if (chosen.index != 0 && os::bindToDevice(native(), chosen.name) == -1) {
    throwSocketError("Bind");
  }
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_addr = chosen.address;
  bind(local);
  // Multicast sent from this socket leaves where its capture listens.
  setOption(IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr, sizeof local.sin_addr);
  linkIndex_ = chosen.index;
}

}  // namespace net
