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

}  // namespace net

Socket::~Socket() {
  if (captureHandle != net::kInvalidSocket) net::os::closeSocketInBackground(captureHandle);
  if (handle != net::kInvalidSocket) net::os::closeSocket(handle);
}

net::NativeSocket Socket::readHandle() const {
  return captureHandle != net::kInvalidSocket ? captureHandle : handle;
}

int Socket::sendTo(const std::uint8_t* data, int length, const sockaddr_in& destination) {
  const int sent = net::os::sendTo(handle, data, length, destination);
  if (sent == -1) net::throwSocketError("sendTo");
  return sent;
}

void Socket::attachCapture(net::NativeSocket capture, const in_addr& ownAddress) {
  captureHandle = capture;
  captureOwnAddress = ownAddress;
}

int Socket::recvFrom(std::uint8_t* buffer, int capacity, sockaddr_in& source) {
  const bool captured = capturing();
  const int received = net::os::recvFrom(readHandle(), buffer, capacity, source);
  if (received == -1) net::throwSocketError("recvFrom");
  if (!captured) return received;
  // A capture reports the link-layer sender; the sender that counts is the
  // datagram's own IP source.
  source = net::ipSourceOf({buffer, static_cast<std::size_t>(received)});
  // What this host sent itself is never evidence of a router: some captures
  // hand back outgoing packets, so they read as empty.
  if (source.sin_addr.s_addr == captureOwnAddress.s_addr) return 0;
  return received;
}

bool Socket::waitReadable(std::int32_t timeOutMs) {
  const int ready = net::os::selectReadable(readHandle(), timeOutMs);
  if (ready == -1) net::throwSocketError("select");
  return ready > 0;
}

void Socket::setOption(int level, int option, const void* value, int length) {
  if (net::os::setOption(handle, level, option, value, length) == -1) {
    net::throwSocketError("SetOption");
  }
}

void Socket::bind(const sockaddr_in& address) {
  if (net::os::bindTo(handle, address) == -1) net::throwSocketError("Bind");
}

namespace {

net::NativeSocket openUdp(int type, int protocol) {
  const net::NativeSocket opened = net::os::openSocket(AF_INET, type, protocol);
  if (opened == net::kInvalidSocket) net::throwSocketError("socket");
  return opened;
}

net::NativeSocket openRaw(int protocol) {
  const net::NativeSocket opened = net::os::openSocket(AF_INET, SOCK_RAW, protocol);
  if (opened == net::kInvalidSocket) throw CV_RawSocketException(net::lastSocketError());
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

void RawSocket::bindToLink(const net::PassLink& link) {
  if (link.failure) throw *link.failure;
  if (!link.chosen) throw CV_SocketException(net::kNoSuchDeviceError, "Bind");
  const net::LinkInterface& chosen = *link.chosen;
  // Replies that reach the host on another link are not this link's.
  if (chosen.index != 0 && net::os::bindToDevice(handle, chosen.name) == -1) {
    net::throwSocketError("Bind");
  }
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_addr = chosen.address;
  bind(local);
  // Multicast sent from this socket leaves where its capture listens.
  setOption(IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr, sizeof local.sin_addr);
}
