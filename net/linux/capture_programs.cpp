#include "net/linux/capture_programs.h"

#include <linux/if_packet.h>

#include <stdexcept>

namespace net::linux_if {

namespace {

constexpr std::uint32_t kIpv6HeaderLength = 40;
constexpr std::uint32_t kIpVersionMask = 0xF0;
constexpr std::uint32_t kIpv6Version = 0x60;
constexpr std::uint32_t kIpv6NextHeaderOffset = 6;
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kDestinationOptions = 60;
constexpr std::uint32_t kFragmentHeaderLength = 8;
constexpr std::uint32_t kIpv6FragmentOffsetMask = 0xFFF8;
constexpr int kMostIpv6ExtensionHeaders = 8;

sock_filter statement(std::uint16_t code, std::uint32_t k) { return {code, 0, 0, k}; }
sock_filter jump(std::uint16_t code, std::uint32_t k, std::uint8_t ifTrue, std::uint8_t ifFalse) {
  return {code, ifTrue, ifFalse, k};
}
}  // namespace

namespace {

// A program under construction whose jumps name labels; resolved once the
// whole program is known, since classic BPF only jumps forward by a byte.
class LabelledProgram {
 public:
  int newLabel() {
    labels_.push_back(-1);
    return static_cast<int>(labels_.size()) - 1;
  }
  void place(int label) { labels_[static_cast<std::size_t>(label)] = size(); }
  void add(sock_filter step) { steps_.push_back(Step{step, -1, -1}); }
  void jumpIf(std::uint16_t code, std::uint32_t k, int ifTrue, int ifFalse) {
    steps_.push_back(Step{jump(code, k, 0, 0), ifTrue, ifFalse});
  }
  void jumpTo(int label) {
    steps_.push_back(Step{statement(BPF_JMP | BPF_JA, 0), label, -1, true});
  }
  [[nodiscard]] int size() const { return static_cast<int>(steps_.size()); }

  std::vector<sock_filter> resolve() const {
    std::vector<sock_filter> program;
    for (int at = 0; at < size(); ++at) {
      const Step& step = steps_[static_cast<std::size_t>(at)];
      sock_filter resolved = step.filter;
      const auto distance = [&](int label) {
        const int forward = labels_[static_cast<std::size_t>(label)] - at - 1;
        if (forward < 0 || (!step.always && forward > 0xFF)) {
          throw std::logic_error("a BPF jump out of reach");
        }
        return forward;
      };
      if (step.always) {
        resolved.k = static_cast<std::uint32_t>(distance(step.ifTrue));
      } else {
        if (step.ifTrue >= 0) resolved.jt = static_cast<std::uint8_t>(distance(step.ifTrue));
        if (step.ifFalse >= 0) resolved.jf = static_cast<std::uint8_t>(distance(step.ifFalse));
      }
      program.push_back(resolved);
    }
    return program;
  }

 private:
  struct Step {
    sock_filter filter;
    int ifTrue;
    int ifFalse;
    bool always = false;
  };
  std::vector<Step> steps_;
  std::vector<int> labels_;
};

}  // namespace

std::vector<sock_filter> ipv6CaptureProgram(std::uint8_t nextHeader,
                                            std::span<const std::uint8_t> firstBytes) {
  LabelledProgram program;
  const int found = program.newLabel();
  const int keep = program.newLabel();
  const int drop = program.newLabel();
  // IPv6 alone: an ETH_P_IPV6 frame may carry anything, an IPv4 datagram too.
  program.add(statement(BPF_LD | BPF_B | BPF_ABS, 0));
  program.add(statement(BPF_ALU | BPF_AND | BPF_K, kIpVersionMask));
  program.add(jump(BPF_JMP | BPF_JEQ | BPF_K, kIpv6Version, 1, 0));
  program.add(statement(BPF_RET | BPF_K, 0));
  // A = the type of the header at offset X.
  program.add(statement(BPF_LDX | BPF_W | BPF_IMM, kIpv6HeaderLength));
  program.add(statement(BPF_LD | BPF_B | BPF_ABS, kIpv6NextHeaderOffset));
  for (int step = 0; step <= kMostIpv6ExtensionHeaders; ++step) {
    const int extension = program.newLabel();
    const int fragment = program.newLabel();
    const int next = program.newLabel();
    program.jumpIf(BPF_JMP | BPF_JEQ | BPF_K, nextHeader, found, -1);
    if (step == kMostIpv6ExtensionHeaders) {
      program.jumpTo(drop);
    } else {
      program.jumpIf(BPF_JMP | BPF_JEQ | BPF_K, kHopByHop, extension, -1);
      program.jumpIf(BPF_JMP | BPF_JEQ | BPF_K, kRouting, extension, -1);
      program.jumpIf(BPF_JMP | BPF_JEQ | BPF_K, kDestinationOptions, extension, -1);
      program.jumpIf(BPF_JMP | BPF_JEQ | BPF_K, kFragment, fragment, drop);
      // An extension header: (length + 1) * 8 bytes, its next header first.
      program.place(extension);
      program.add(statement(BPF_LD | BPF_B | BPF_IND, 1));
      program.add(statement(BPF_ALU | BPF_ADD | BPF_K, 1));
      program.add(statement(BPF_ALU | BPF_LSH | BPF_K, 3));
      program.add(statement(BPF_ALU | BPF_ADD | BPF_X, 0));
      program.add(statement(BPF_ST, 0));
      program.add(statement(BPF_LD | BPF_B | BPF_IND, 0));
      program.add(statement(BPF_LDX | BPF_MEM, 0));
      program.jumpTo(next);
      // A fragment header: a later fragment's data begins mid-message.
      program.place(fragment);
      program.add(statement(BPF_LD | BPF_H | BPF_IND, 2));
      program.jumpIf(BPF_JMP | BPF_JSET | BPF_K, kIpv6FragmentOffsetMask, drop, -1);
      program.add(statement(BPF_MISC | BPF_TXA, 0));
      program.add(statement(BPF_ALU | BPF_ADD | BPF_K, kFragmentHeaderLength));
      program.add(statement(BPF_ST, 0));
      program.add(statement(BPF_LD | BPF_B | BPF_IND, 0));
      program.add(statement(BPF_LDX | BPF_MEM, 0));
      program.place(next);
    }
  }
  // A read past the end of the datagram ends the program with a drop.
  program.place(found);
  program.add(statement(BPF_LD | BPF_B | BPF_IND, 0));
  for (const std::uint8_t first : firstBytes) {
    program.jumpIf(BPF_JMP | BPF_JEQ | BPF_K, first, keep, -1);
  }
  program.jumpTo(firstBytes.empty() ? keep : drop);
  program.place(keep);
  program.add(statement(BPF_RET | BPF_K, kKeepWhole));
  program.place(drop);
  program.add(statement(BPF_RET | BPF_K, 0));
  return program.resolve();
}

std::vector<sock_filter> ipv6CaptureProgramFor(const CaptureRequest& request) {
  constexpr int kLastNextHeader = 0xFF;
  if (request.family != Family::V6 || request.protocol < 0 || request.protocol > kLastNextHeader ||
      request.echoIdentifier || request.destination || request.source) {
    throw std::invalid_argument("the IPv6 capture reads a protocol and message types alone");
  }
  return ipv6CaptureProgram(static_cast<std::uint8_t>(request.protocol), request.messageTypes);
}

std::vector<sock_filter> withoutOtherHosts(const std::vector<sock_filter>& program) {
  std::vector<sock_filter> guarded{
      statement(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)),
      jump(BPF_JMP | BPF_JEQ | BPF_K, PACKET_OTHERHOST, 0, 1),
      statement(BPF_RET | BPF_K, 0),
  };
  guarded.insert(guarded.end(), program.begin(), program.end());
  return guarded;
}

}  // namespace net::linux_if
