// libpcap on Linux: the memory-mapped ring (TPACKET_V3) that a link capture
// reads a block of frames at a time, and classic BPF compiled from filter
// expressions.
#pragma once

#include <linux/filter.h>
#include <pcap/pcap.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "net/capture/capture_request.h"
#include "net/capture/capture_session.h"

namespace net::linux_capture {

// The kernel hands a block of frames over when it fills or, at the latest,
// this long after its first frame (on kernels that keep the timer in jiffies,
// up to twice as long). Each block handed over wakes the tool, and a frame
// that arrived just before a window's deadline is read this much after it.
// Measured under 16,000 kept frames a second: 1 ms woke the tool 6,000 times
// a pass (72 ms of CPU), 8 ms 750 times (31 ms); and the ring, two blocks,
// rides out a stall of the tool of one to two timeouts before it drops.
inline constexpr int kBlockTimeoutMs = 8;
// libpcap makes each TPACKET_V3 block 256 KiB, whatever the snapshot length.
// Two let the kernel fill one while the other is read; each more costs
// 256 KiB of resident memory.
inline constexpr int kRingBytes = 2 * 256 * 1024;
// Room for the link header in front of the receive buffer's 4096 bytes.
inline constexpr int kSnapLength = 64 + 4096;

struct PcapCloser {
  // pcap_close tears the ring down and closes the socket: both wait out a
  // kernel grace period, which the background thread does.
  void operator()(pcap_t* capture) const noexcept;
};
using Pcap = std::unique_ptr<pcap_t, PcapCloser>;

// A ring on the interface `interfaceName` (index `interfaceIndex`), non-
// blocking, in all-multicast mode, keeping nothing until a capture gives it a
// filter. Throws CV_SocketException(error, kCaptureOperation), with EPERM for
// missing rights, ENODEV for no such interface, ENETDOWN for one down.
Pcap openRing(const std::string& interfaceName, unsigned int interfaceIndex);

// Compiles `expression` for the ring's link type and installs it in the
// kernel. Throws CV_SocketException(kCaptureOperation).
void keepOnly(pcap_t* ring, const std::string& expression);

// This host's outgoing frames stay out of the ring: in the kernel where it
// can (Linux 4.20 and later), else in libpcap as it reads. Throws
// CV_SocketException(kCaptureOperation).
void keepOutOwnFrames(pcap_t* ring);

// Compiles `expression` for datagrams that begin with their IP header, as a
// raw IPv4 socket's filter sees them. Throws CV_SocketException(EINVAL,
// operation) when libpcap refuses it.
std::vector<sock_filter> compileForIpDatagrams(const std::string& expression,
                                               const char* operation);

// Compiles `expression` for what a raw ICMPv6 socket's filter sees: the
// message alone, which `link[offset]` reads from its first byte. Throws as
// compileForIpDatagrams.
std::vector<sock_filter> compileForIcmpv6Messages(const std::string& expression,
                                                  const char* operation);

// What a raw socket of `request`'s family keeps of it: IPv4 datagrams from
// their IP header on, ICMPv6 messages alone (compileForIcmpv6Messages).
// Throws as compileForIpDatagrams.
std::vector<sock_filter> compileForRawSocket(const CaptureRequest& request, const char* operation);

// The ring as a capture session reads it.
class PcapFrames final : public FrameRing {
 public:
  explicit PcapFrames(pcap_t* ring) : ring_(ring) {}

  [[nodiscard]] NativeSocket waitHandle() const override;
  [[nodiscard]] int linkType() const override;
  void takeFrames(const FrameVisitor& onFrame) override;
  std::uint32_t framesQueued() override;

 private:
  pcap_t* ring_;
};

}  // namespace net::linux_capture
