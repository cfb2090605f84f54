#include "net/linux/pcap_ring.h"

#include <linux/if_packet.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>

#include "net/background.h"
#include "net/capture/capture_filter.h"
#include "net/linux/capture_operation.h"
#include "net/packet/link_layer.h"
#include "net/privilege.h"
#include "net/socket.h"
#include "net/socket_exceptions.h"

// Older headers (before Linux 4.20) lack it; the value is the kernel's.
#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23
#endif

namespace net::linux_capture {

static_assert(static_cast<int>(LinkType::Ethernet) == DLT_EN10MB);
static_assert(static_cast<int>(LinkType::RawIp) == DLT_RAW);
static_assert(static_cast<int>(LinkType::LinuxCooked) == DLT_LINUX_SLL);
static_assert(static_cast<int>(LinkType::Ipv4) == DLT_IPV4);
static_assert(static_cast<int>(LinkType::Ipv6) == DLT_IPV6);
static_assert(static_cast<int>(LinkType::LinuxCooked2) == DLT_LINUX_SLL2);

namespace {

// Winsock's name for the call that switches a receive-all mode on: the
// report names a capture failure the same way on every platform.
constexpr const char* kOpening = linux_capture::kCaptureOperation;
constexpr const char* kReading = "recvFrom";

// libpcap reports a failure as a status and a message; the report wants the
// platform's error number.
int errorNumberOf(int status) {
  switch (status) {
    case PCAP_ERROR_PERM_DENIED:
    case PCAP_ERROR_PROMISC_PERM_DENIED:
      return EPERM;
    case PCAP_ERROR_NO_SUCH_DEVICE:
      return ENODEV;
    case PCAP_ERROR_IFACE_NOT_UP:
      return ENETDOWN;
    default:
      // libpcap leaves the error of the system call that failed in errno;
      // where none failed, it reports a fault of its own.
      return errno != 0 ? errno : EIO;
  }
}

[[noreturn]] void fail(int status, const char* operation) {
  throw CV_SocketException(errorNumberOf(status), operation);
}

// A compiled program, freed when it goes.
class Program {
 public:
  Program(pcap_t* compiler, const std::string& expression, const char* operation) {
    if (::pcap_compile(compiler, &program_, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0) {
      // An expression libpcap refuses is the tool's own mistake.
      throw CV_SocketException(EINVAL, operation);
    }
  }
  ~Program() { ::pcap_freecode(&program_); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  Program(Program&&) = delete;
  Program& operator=(Program&&) = delete;

  [[nodiscard]] bpf_program* get() { return &program_; }

 private:
  bpf_program program_{};
};

void setRingOption(pcap_t* ring, int option, const void* value, socklen_t length) {
  if (::setsockopt(::pcap_fileno(ring), SOL_PACKET, option, value, length) == -1) {
    throwSocketError(kOpening);
  }
}

}  // namespace

void PcapCloser::operator()(pcap_t* capture) const noexcept {
  if (!runInBackground([capture] { ::pcap_close(capture); })) ::pcap_close(capture);
}

Pcap openRing(const std::string& interfaceName, unsigned int interfaceIndex) {
  std::array<char, PCAP_ERRBUF_SIZE> message{};
  Pcap ring(::pcap_create(interfaceName.c_str(), message.data()));
  if (!ring) fail(PCAP_ERROR, kOpening);
  // Immediate mode stays off: libpcap then sets up TPACKET_V3, whose blocks
  // are read whole, instead of waking for every frame.
  if (::pcap_set_snaplen(ring.get(), kSnapLength) != 0 ||
      ::pcap_set_timeout(ring.get(), kBlockTimeoutMs) != 0 ||
      ::pcap_set_buffer_size(ring.get(), kRingBytes) != 0 ||
      ::pcap_set_tstamp_precision(ring.get(), PCAP_TSTAMP_PRECISION_NANO) != 0) {
    fail(PCAP_ERROR, kOpening);
  }
  errno = 0;
  const int status = [&ring] {
    const RaisedPrivilege raised;
    return ::pcap_activate(ring.get());
  }();
  if (status < 0) fail(status, kOpening);
  if (!isReadableLinkType(::pcap_datalink(ring.get()))) {
    throw CV_SocketException(EPROTONOSUPPORT, kOpening);
  }
  // The listening loop waits on the socket itself.
  if (::pcap_setnonblock(ring.get(), 1, message.data()) != 0) fail(PCAP_ERROR, kOpening);
  // Queries for groups this host never joined must pass the interface's own
  // multicast filter.
  packet_mreq allMulticast{};
  allMulticast.mr_ifindex = static_cast<int>(interfaceIndex);
  allMulticast.mr_type = PACKET_MR_ALLMULTI;
  setRingOption(ring.get(), PACKET_ADD_MEMBERSHIP, &allMulticast, sizeof allMulticast);
  keepOnly(ring.get(), kKeepNothing);
  return ring;
}

void keepOnly(pcap_t* ring, const std::string& expression) {
  Program program(ring, expression, kOpening);
  // libpcap's own drain of the socket reads a pending error, such as the
  // ENETDOWN a link that went down left on an idle ring, and fails on it.
  int pending = 0;
  socklen_t length = sizeof pending;
  ::getsockopt(::pcap_fileno(ring), SOL_SOCKET, SO_ERROR, &pending, &length);
  errno = 0;
  if (::pcap_setfilter(ring, program.get()) != 0) fail(PCAP_ERROR, kOpening);
}

void keepOutOwnFrames(pcap_t* ring) {
  // Kernels before 4.20 refuse the option: libpcap then drops outgoing
  // frames as it reads, and the capture's filter keeps out what this host's
  // own address sent.
  const int ignore = 1;
  if (::setsockopt(::pcap_fileno(ring), SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore,
                   sizeof ignore) == -1 &&
      errno != ENOPROTOOPT) {
    throwSocketError(kOpening);
  }
  if (::pcap_setdirection(ring, PCAP_D_IN) != 0) fail(PCAP_ERROR, kOpening);
}

namespace {

std::vector<sock_filter> compileFor(int linkType, const std::string& expression,
                                    const char* operation) {
  const std::unique_ptr<pcap_t, decltype(&::pcap_close)> compiler(
      ::pcap_open_dead(linkType, kSnapLength), &::pcap_close);
  if (!compiler) throw CV_SocketException(ENOMEM, operation);
  Program program(compiler.get(), expression, operation);
  std::vector<sock_filter> instructions;
  const bpf_program* compiled = program.get();
  for (u_int i = 0; i < compiled->bf_len; ++i) {
    const bpf_insn& step = compiled->bf_insns[i];
    instructions.push_back(sock_filter{step.code, step.jt, step.jf, step.k});
  }
  return instructions;
}

}  // namespace

std::vector<sock_filter> compileForIpDatagrams(const std::string& expression,
                                               const char* operation) {
  return compileFor(DLT_RAW, expression, operation);
}

std::vector<sock_filter> compileForIcmpv6Messages(const std::string& expression,
                                                  const char* operation) {
  // A link type with no header of its own: link[] counts from the message.
  return compileFor(DLT_USER0, expression, operation);
}

std::vector<sock_filter> compileForRawSocket(const CaptureRequest& request, const char* operation) {
  if (request.family == Family::V6) {
    return compileForIcmpv6Messages(expressionFromIcmpv6Message(request), operation);
  }
  return compileForIpDatagrams(expressionFromIpHeader(request), operation);
}

NativeSocket PcapFrames::waitHandle() const { return ::pcap_get_selectable_fd(ring_); }

int PcapFrames::linkType() const { return ::pcap_datalink(ring_); }

void PcapFrames::takeFrames(const FrameVisitor& onFrame) {
  struct Visit {
    pcap_t* ring;
    const FrameVisitor& onFrame;
  } visit{ring_, onFrame};
  const pcap_handler handler = [](u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto* const state = reinterpret_cast<Visit*>(user);
    const auto stamp = SystemTime(std::chrono::duration_cast<SystemTime::duration>(
        std::chrono::seconds(header->ts.tv_sec) +
        // With nanosecond precision libpcap puts nanoseconds in tv_usec.
        std::chrono::nanoseconds(header->ts.tv_usec)));
    if (!state->onFrame(
            CapturedFrame{std::span<const std::uint8_t>(bytes, header->caplen), stamp})) {
      ::pcap_breakloop(state->ring);
    }
  };
  // -1: every frame of every block handed over, without a system call while
  // blocks are there to read.
  errno = 0;
  const int taken = ::pcap_dispatch(ring_, -1, handler, reinterpret_cast<u_char*>(&visit));
  if (taken < 0 && taken != PCAP_ERROR_BREAK) fail(taken, kReading);
}

std::uint32_t PcapFrames::framesQueued() {
  pcap_stat counts{};
  if (::pcap_stats(ring_, &counts) != 0) throwSocketError(kReading);
  // Frames that found no room are counted as received too.
  return counts.ps_recv - counts.ps_drop;
}

}  // namespace net::linux_capture
