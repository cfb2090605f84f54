// Loopback UDP helpers: a plain socket of the test's own to send from, and
// a free port to bind the tool's sockets to. Nothing leaves the host.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>

#include "net/platform.h"
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

inline sockaddr_in loopbackAddress(const char* address, std::uint16_t port) {
  sockaddr_in result;
  std::memset(&result, 0, sizeof result);
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  result.sin_addr.s_addr = inet_addr(address);
  return result;
}

// Built on the thin platform calls, not on the Socket wrappers under test.
class Sender {
 public:
  explicit Sender(const char* fromAddress = "127.0.0.1", std::uint16_t fromPort = 0)
      : handle_(net::os::openSocket(AF_INET, SOCK_DGRAM, 0)) {
    if (!handle_.valid() ||
        net::os::bindTo(handle_.get(), loopbackAddress(fromAddress, fromPort)) != 0) {
      throw std::runtime_error("test sender");
    }
  }

  void send(std::uint16_t toPort, const std::string& payload = "beacon") const {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(payload.data()),
                                              payload.size());
    if (net::os::sendTo(handle_.get(), bytes, loopbackAddress("127.0.0.1", toPort)) !=
        static_cast<int>(bytes.size())) {
      throw std::runtime_error("test send");
    }
  }

 private:
  net::UniqueSocket handle_;
};

// A port that was free a moment ago.
inline std::uint16_t freeUdpPort() {
  const net::UniqueSocket probe(net::os::openSocket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in local = loopbackAddress("0.0.0.0", 0);
  const bool found = probe.valid() && net::os::bindTo(probe.get(), local) == 0 &&
                     net::os::localAddressOf(probe.get(), local) == 0;
  if (!found) throw std::runtime_error("free port");
  return ntohs(local.sin_port);
}

}  // namespace testing_support
