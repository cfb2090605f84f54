// Loopback UDP helpers: a plain socket of the test's own to send from, and
// a free port to bind the tool's sockets to. Nothing leaves the host.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace testing_support {

inline sockaddr_in loopbackAddress(const char* address, std::uint16_t port) {
  sockaddr_in result;
  std::memset(&result, 0, sizeof result);
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  result.sin_addr.s_addr = inet_addr(address);
  return result;
}

class Sender {
 public:
  explicit Sender(const char* fromAddress = "127.0.0.1", std::uint16_t fromPort = 0)
      : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    const sockaddr_in local = loopbackAddress(fromAddress, fromPort);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      throw std::runtime_error("test sender");
    }
  }
  ~Sender() { close(fd_); }
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  void send(std::uint16_t toPort, const std::string& payload = "beacon") const {
    const sockaddr_in to = loopbackAddress("127.0.0.1", toPort);
    if (sendto(fd_, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) != static_cast<ssize_t>(payload.size())) {
      throw std::runtime_error("test send");
    }
  }

 private:
  int fd_;
};

// A port that was free a moment ago.
inline std::uint16_t freeUdpPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local = loopbackAddress("0.0.0.0", 0);
  socklen_t length = sizeof local;
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    throw std::runtime_error("free port");
  }
  close(fd);
  return ntohs(local.sin_port);
}

}  // namespace testing_support
