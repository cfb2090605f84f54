// Owning wrappers of one IPv4 socket each. Every failed call throws at once
// with the platform's error number; nothing is retried or returned as a code.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "net/interfaces.h"
#include "net/platform.h"
#include "net/unique_socket.h"

namespace net {

class Socket {
 public:
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&&) = delete;
  Socket& operator=(Socket&&) = delete;
  ~Socket() = default;

  int sendTo(std::span<const std::uint8_t> message, const sockaddr_in& destination);
  // Reads one datagram. On a raw socket it starts with its IPv4 header.
  int recvFrom(std::span<std::uint8_t> buffer, sockaddr_in& source);
  // True when a datagram can be read; waits at most timeOutMs (-1: no limit).
  bool waitReadable(std::int32_t timeOutMs);
  // True when a datagram can be read before `deadline`; false once it has come.
  bool waitReadable(Deadline& deadline);
  void setOption(int level, int option, const void* value, int length);
  void bind(const sockaddr_in& address);

 protected:
  explicit Socket(UniqueSocket opened) : handle_(std::move(opened)) {}

  [[nodiscard]] NativeSocket native() const { return handle_.get(); }

  // Hands the socket a capture of its interface, on platforms where a
  // receive-all mode is a socket of its own: from now on waits and reads go
  // to it. `ownAddress` is this socket's bound address.
  void attachCapture(UniqueSocket capture, const in_addr& ownAddress);
  [[nodiscard]] bool capturing() const { return capture_.valid(); }

 private:
  [[nodiscard]] NativeSocket readHandle() const;

  // Declared first, closed last: the capture goes before the socket it serves.
  UniqueSocket handle_;
  UniqueSocket capture_;
  in_addr captureOwnAddress_{};
};

class UdpSocket : public Socket {
 public:
  // Opens the socket and binds it to address:port (both in host byte order).
  UdpSocket(int type, int protocol, std::uint32_t address, std::uint16_t port);
};

class RawSocket : public Socket {
 public:
  explicit RawSocket(int protocol);

  // Binds to the pass's interface (its address, and the device itself where
  // the platform allows) and sends this socket's multicast out of it. Throws
  // the failure that finding the interface met, if it met one.
  void bindToLink(const PassLink& link);
  // Receive-all modes: the socket also sees what reaches the bound interface
  // for other hosts and groups. Only after bindToLink.
  void enableReceiveAll();
  void enableReceiveAllIgmp();
  // Linux queues only the ICMP echo replies that carry `identifier` on this
  // socket from now on; the readers still check each one. Elsewhere it
  // changes nothing.
  void acceptOnlyEchoReplies(std::uint16_t identifier);

 private:
  int protocol_;
  // The interface bindToLink tied the socket to; 0 until then, or when only
  // the address is known.
  unsigned int linkIndex_ = 0;
};

// Throws CV_SocketException for `operation` with the platform's last error;
// to be called right after the failed call.
[[noreturn]] void throwSocketError(const char* operation);

}  // namespace net
