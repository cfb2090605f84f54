// The capture of one beacon's traffic on Linux: a plain packet socket under
// the beacon's compiled expression. A beacon comes a few times a second and
// needs no ring; the ring the pass prepares is then first needed by the
// IGMP probes, well after it is ready.
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <utility>

#include "net/capture/capture_filter.h"
#include "net/capture/link_capture.h"
#include "net/linux/capture_operation.h"
#include "net/linux/packet_capture.h"
#include "net/linux/pcap_ring.h"
#include "net/packet/ip_datagram.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"

namespace net {

namespace {

constexpr const char* kReading = "recvFrom";

// A packet socket's queue, read a datagram at a time, each datagram from its
// IP header on.
class PacketQueue final : public DatagramSource {
 public:
  PacketQueue(UniqueSocket capture, Family family)
      : capture_(std::move(capture)), family_(family) {}

  [[nodiscard]] NativeSocket waitHandle() const override { return capture_.get(); }

  AfterDatagram readNow(const DatagramHandler& onDatagram, TimePoint /*end*/) override {
    // What is queued, and not for ever: a link that keeps sending must not
    // keep one read going.
    constexpr int kMostRead = 4096;
    for (int read = 0; read < kMostRead; ++read) {
      const ssize_t received = ::recv(capture_.get(), buffer_.data(), buffer_.size(), MSG_DONTWAIT);
      if (received == -1) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        throwSocketError(kReading);
      }
      const std::span<const std::uint8_t> bytes(buffer_.data(), static_cast<std::size_t>(received));
      const auto datagram = parseDatagram(bytes);
      const Endpoint sender{datagram ? datagram->source : anyAddress(family_), 0};
      if (onDatagram(ReceivedDatagram{bytes, sender, std::chrono::steady_clock::now()}) ==
          AfterDatagram::StopListening) {
        return AfterDatagram::StopListening;
      }
    }
    return AfterDatagram::KeepListening;
  }

 private:
  UniqueSocket capture_;
  Family family_;
  std::array<std::uint8_t, kReceiveBufferSize> buffer_{};
};

// A capture that a probe reads as its socket: it only listens.
class CaptureReader final : public ProbeSocket {
 public:
  explicit CaptureReader(std::unique_ptr<DatagramSource> capture) : capture_(std::move(capture)) {}

  void sendTo(std::span<const std::uint8_t> /*message*/, const Endpoint& /*destination*/) override {
    throw CV_SocketException(EOPNOTSUPP, "sendTo");
  }
  void listen(std::int32_t timeOutMs, const DatagramHandler& onDatagram) override {
    listenOn(*capture_, timeOutMs, onDatagram);
  }
  void drain(const DatagramHandler& onDatagram) override {
    capture_->readNow(onDatagram, std::chrono::steady_clock::now());
  }
  void changeMembership(Membership /*change*/, const Address& /*group*/,
                        const std::optional<Address>& /*source*/,
                        unsigned int /*interfaceIndex*/) override {
    throw CV_SocketException(EOPNOTSUPP, "SetOption");
  }

 private:
  std::unique_ptr<DatagramSource> capture_;
};

}  // namespace

std::unique_ptr<ProbeSocket> openBeaconCapture(const CaptureRequest& request,
                                               const PassLink& link) {
  const LinkInterface& chosen = requireLinkToBindTo(link);
  if (chosen.index == 0) return nullptr;
  const Family family = request.family;
  // An IPv6 pass's interface address is its link-local one, scoped; the
  // program compares it with datagrams' source addresses, which carry none.
  const std::string expression =
      captureFilter(expressionFromIpHeader(request), chosen.address.withScope(0));
  return std::make_unique<CaptureReader>(std::make_unique<PacketQueue>(
      openPacketCapture(
          chosen.index, family,
          linux_capture::compileForIpDatagrams(expression, linux_capture::kCaptureOperation)),
      family));
}

}  // namespace net
