// Owning wrappers of one socket each, of either family. Every failed call
// throws at once with the platform's error number; nothing is retried or
// returned as a code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "net/capture/capture_request.h"
#include "net/datagram_source.h"
#include "net/farewell.h"
#include "net/interfaces.h"
#include "net/network.h"
#include "net/platform.h"
#include "net/unique_socket.h"

namespace net {

class LinkCaptures;

// The most a listening loop reads of one datagram.
inline constexpr std::size_t kReceiveBufferSize = 4096;

// What one read brought: a datagram, or one of this host's own packets that
// a capture handed back, which is never evidence of anything.
struct ReadResult {
  enum class Kind { Datagram, OwnPacket };
  Kind kind = Kind::Datagram;
  std::size_t size = 0;
  Endpoint sender;
};

class Socket : public ProbeSocket {
 public:
  [[nodiscard]] Family family() const { return family_; }

  void sendTo(std::span<const std::uint8_t> message, const Endpoint& destination) override;
  // The one listening loop (listenOn) on the socket's queue, one datagram a
  // read, or on the capture that replaced it.
  void listen(std::int32_t timeOutMs, const DatagramHandler& onDatagram) override;
  void drain(const DatagramHandler& onDatagram) override;
  void changeMembership(Membership change, const Address& group,
                        const std::optional<Address>& source, unsigned int interfaceIndex) override;
  void sendIfInterrupted(std::span<const std::uint8_t> message,
                         const Endpoint& destination) override;
  void cancelSendIfInterrupted() override { owed_.disarm(); }

  // Reads one datagram. On a raw socket it starts with its IP header.
  ReadResult read(std::span<std::uint8_t> buffer);
  // True when a datagram can be read before `deadline`; false once it has come.
  bool waitReadable(Deadline& deadline);
  void setOption(int level, int option, const void* value, int length);
  void bind(const Endpoint& local);

 protected:
  Socket(Family family, UniqueSocket opened) : handle_(std::move(opened)), family_(family) {}

  [[nodiscard]] NativeSocket native() const { return handle_.get(); }

  // Hands the socket a capture of its interface, on platforms where a
  // receive-all mode is a socket of its own: from now on waits and reads go
  // to it. `ownAddress` is this socket's bound address.
  void attachCapture(UniqueSocket capture, const Address& ownAddress);
  [[nodiscard]] bool capturing() const { return capture_.valid() || linkCapture_ != nullptr; }
  // Hands the socket a capture that reads in its own way (Linux: libpcap's
  // ring): from now on listen and drain read only that.
  void attachCapture(std::unique_ptr<DatagramSource> capture);
  // A raw IPv6 socket hands over the message alone (RFC 3542 3): each read
  // gets an IPv6 header put in front, so that every reader sees the same.
  void putIpv6HeaderOnReads(std::uint8_t nextHeader) { headerToPut_ = nextHeader; }

 private:
  class QueueReader;
  [[nodiscard]] NativeSocket readHandle() const;

  // Declared first, closed last: the captures go before the socket they serve.
  UniqueSocket handle_;
  UniqueSocket capture_;
  Address captureOwnAddress_;
  std::unique_ptr<DatagramSource> linkCapture_;
  Family family_;
  std::optional<std::uint8_t> headerToPut_;
  // Declared last, disarmed first: never sent on a closed handle.
  PendingFarewell owed_;
};

class UdpSocket : public Socket {
 public:
  // Opens a datagram socket and binds it to the family's wildcard address on
  // `port`, without address reuse: a held port is an error.
  UdpSocket(Family family, std::uint16_t port);
};

class RawSocket : public Socket {
 public:
  RawSocket(Family family, int protocol);

  // Binds to the pass's interface (its address, and the device itself where
  // the platform allows) and sends this socket's multicast out of it. Throws
  // the failure that finding the interface met, if it met one.
  void bindToLink(const PassLink& link);
  // From now on the socket reads what reaches the bound interface for any
  // host or group: on Linux only what `request` describes (IPv4: a capture
  // lent by `captures`), elsewhere the platform's receive-all mode for the
  // socket's protocol, and the readers sort. Only after bindToLink. Throws
  // CV_SocketException("WSAIoctl").
  void captureLink(LinkCaptures& captures, const CaptureRequest& request);
  // In place of bindToLink and captureLink for what `request` asks of every
  // host of the link (its destination the all-hosts group): on Linux, IPv4,
  // the socket's own queue on the interface, filtered in the kernel; else as
  // those two do.
  void watchAllHosts(LinkCaptures& captures, const PassLink& link, const CaptureRequest& request);
  // Windows' receive-all modes (SIO_RCVALL, SIO_RCVALL_IGMPMCAST), which
  // captureLink picks from there; win32/socket.cpp alone defines them.
  void enableReceiveAll();
  void enableReceiveAllIgmp();
  // Linux queues only the ICMP or ICMPv6 echo replies that `replies`
  // describes on this socket from now on; the readers still check each one.
  // Elsewhere it changes nothing.
  void acceptOnlyEchoReplies(const CaptureRequest& replies);
  // Every datagram sent from now on carries the hop-by-hop Router Alert
  // option with value 0 (MLD, RFC 2711), as MLD wants. Throws
  // CV_SocketException where the platform cannot.
  void sendWithRouterAlert();

 private:
  // The interface bindToLink tied the socket to; 0 and empty until then, or
  // when only the address is known.
  unsigned int linkIndex_ = 0;
  std::string linkName_;
};

// Throws CV_SocketException for `operation` with the platform's last error;
// to be called right after the failed call.
[[noreturn]] void throwSocketError(const char* operation);

}  // namespace net
