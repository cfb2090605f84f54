// Loopback UDP helpers: a plain socket of the test's own to send from, a free
// port to bind the tool's sockets to, and the system's network with a hand on
// the receivers it opens. Nothing leaves the host.
#pragma once

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "net/address.h"
#include "net/platform.h"
#include "net/socket.h"
#include "net/system_network.h"
#include "net/unique_socket.h"

namespace testing_support {

// The error numbers the platform gives for the refusals these tests provoke.
#ifdef _WIN32
inline constexpr int kAddressInUse = WSAEADDRINUSE;
inline constexpr int kInvalidArgument = WSAEINVAL;
// Winsock treats an option value shorter than the option as a bad pointer.
inline constexpr int kOptionTooShort = WSAEFAULT;
#else
inline constexpr int kAddressInUse = EADDRINUSE;
inline constexpr int kInvalidArgument = EINVAL;
inline constexpr int kOptionTooShort = EINVAL;
#endif

inline const net::Address kLoopback = net::Address::v4(0x7F000001U);

inline net::Address loopbackV6() {
  std::array<std::uint8_t, 16> bytes{};
  bytes[15] = 1;
  return net::Address::v6(bytes);
}

inline net::SocketAddress socketAddress(const net::Address& address, std::uint16_t port) {
  return net::socketAddressOf(net::Endpoint{address, port});
}

// Built on the thin platform calls, not on the Socket wrappers under test.
class Sender {
 public:
  explicit Sender(const net::Address& from = kLoopback, std::uint16_t fromPort = 0)
      : handle_(net::os::openSocket(net::nativeFamily(from.family()), SOCK_DGRAM, 0)),
        family_(from.family()) {
    if (!handle_.valid() || net::os::bindTo(handle_.get(), socketAddress(from, fromPort)) != 0) {
      throw std::runtime_error("test sender");
    }
  }
  explicit Sender(const char* from) : Sender(*net::Address::parseV4(from)) {}

  // To the loopback address of the sender's family.
  void send(std::uint16_t toPort, const std::string& payload = "beacon") const {
    sendTo(family_ == net::Family::V4 ? kLoopback : loopbackV6(), toPort, payload);
  }

  void sendTo(const net::Address& to, std::uint16_t toPort,
              const std::string& payload = "beacon") const {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(payload.data()),
                                              payload.size());
    if (net::os::sendTo(handle_.get(), bytes, socketAddress(to, toPort)) !=
        static_cast<int>(bytes.size())) {
      throw std::runtime_error("test send");
    }
  }

  // The port the sender's datagrams come from.
  [[nodiscard]] std::uint16_t port() const {
    net::SocketAddress local;
    if (net::os::localAddressOf(handle_.get(), local) != 0) throw std::runtime_error("test port");
    return net::endpointOf(local).port;
  }

  [[nodiscard]] net::NativeSocket handle() const { return handle_.get(); }

 private:
  net::UniqueSocket handle_;
  net::Family family_;
};

// A port that was free a moment ago.
inline std::uint16_t freeUdpPort() {
  const net::UniqueSocket probe(net::os::openSocket(AF_INET, SOCK_DGRAM, 0));
  net::SocketAddress local = socketAddress(net::Address{}, 0);
  const bool found = probe.valid() && net::os::bindTo(probe.get(), local) == 0 &&
                     net::os::localAddressOf(probe.get(), local) == 0;
  if (!found) throw std::runtime_error("free port");
  return net::endpointOf(local).port;
}

// Whether `socket` has a datagram queued: it becomes readable within a second.
inline bool queued(net::Socket& socket) {
  net::Deadline deadline(1000);
  return socket.waitReadable(deadline);
}

// The system's network, keeping the last receiver it opened within reach of
// the test, which can look at its queue while a probe owns it.
class WatchedNetwork final : public net::Network {
 public:
  std::unique_ptr<net::ProbeSocket> openReceiver(net::Family family, std::uint16_t port) override {
    auto opened = std::make_unique<net::UdpSocket>(family, port);
    receiver_ = opened.get();
    return opened;
  }
  std::unique_ptr<net::ProbeSocket> openPinger(const net::CaptureRequest& replies,
                                               const net::PassLink& link) override {
    return system_.openPinger(replies, link);
  }
  std::unique_ptr<net::ProbeSocket> openCapturing(const net::CaptureRequest& request,
                                                  const net::PassLink& link) override {
    return system_.openCapturing(request, link);
  }
  std::unique_ptr<net::ProbeSocket> openBeaconCapture(const net::CaptureRequest& request,
                                                      const net::PassLink& link) override {
    return system_.openBeaconCapture(request, link);
  }
  net::HostMulticastState hostState(const net::PassLink& link) override {
    return system_.hostState(link);
  }
  std::optional<std::vector<std::string>> routeInterfaces(const net::Address& destination,
                                                          const net::PassLink& link) override {
    return system_.routeInterfaces(destination, link);
  }
  void requireLinkUp(const net::PassLink& link, const char* operation) override {
    system_.requireLinkUp(link, operation);
  }
  void pause(std::uint32_t milliseconds) override { system_.pause(milliseconds); }
  std::chrono::steady_clock::time_point now() override { return system_.now(); }

  // The last receiver opened; it lives as long as the probe that owns it.
  [[nodiscard]] net::Socket& receiver() const {
    if (receiver_ == nullptr) throw std::logic_error("no receiver opened");
    return *receiver_;
  }

 private:
  net::SystemNetwork system_;
  net::UdpSocket* receiver_ = nullptr;
};

}  // namespace testing_support
