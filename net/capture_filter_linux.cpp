#include "net/capture_filter_linux.h"

namespace net::linux_if {

namespace {
constexpr std::uint32_t kProtocolOffset = 9;
constexpr std::uint32_t kFragmentOffset = 6;
constexpr std::uint32_t kFragmentOffsetMask = 0x1FFF;
constexpr std::uint32_t kMinHeaderLength = 20;
constexpr std::uint32_t kSourceOffset = 12;
constexpr std::uint32_t kDestinationOffset = 16;
constexpr std::uint32_t kUdpProtocol = 17;
constexpr std::uint32_t kUdpDestinationPortOffset = 2;

constexpr int kIgmpProtocol = 2;
constexpr int kPimProtocol = 103;
constexpr std::uint8_t kMembershipQuery = 0x11;
constexpr std::uint8_t kPimHello = 0x20;
constexpr std::uint8_t kPimCandidateRpAdvertisement = 0x28;
constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint32_t kEchoIdentifierOffset = 4;

sock_filter statement(std::uint16_t code, std::uint32_t k) { return {code, 0, 0, k}; }
sock_filter jump(std::uint16_t code, std::uint32_t k, std::uint8_t ifTrue, std::uint8_t ifFalse) {
  return {code, ifTrue, ifFalse, k};
}
}  // namespace

std::vector<sock_filter> captureProgram(int ipProtocol,
                                        std::initializer_list<std::uint8_t> firstBytes) {
  // Each test below jumps to the final "drop" on a miss, so its distance
  // depends on how many first-byte tests follow.
  const auto wanted = static_cast<std::uint8_t>(firstBytes.size());
  std::vector<sock_filter> program;
  const auto toDrop = [&](std::size_t index) {
    // Instructions after `index`: the rest of the fixed part (6 at index 0),
    // the byte tests and the accept.
    const std::size_t dropIndex = 8 + wanted + 1;
    return static_cast<std::uint8_t>(dropIndex - index - 1);
  };
  program.push_back(statement(BPF_LD | BPF_B | BPF_ABS, kProtocolOffset));
  program.push_back(
      jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(ipProtocol), 0, toDrop(1)));
  program.push_back(statement(BPF_LD | BPF_H | BPF_ABS, kFragmentOffset));
  program.push_back(jump(BPF_JMP | BPF_JSET | BPF_K, kFragmentOffsetMask, toDrop(3), 0));
  // X = 4 * IHL, the header length this datagram gives.
  program.push_back(statement(BPF_LDX | BPF_B | BPF_MSH, 0));
  program.push_back(statement(BPF_MISC | BPF_TXA, 0));
  program.push_back(jump(BPF_JMP | BPF_JGE | BPF_K, kMinHeaderLength, 0, toDrop(6)));
  // A read past the end of the datagram ends the program with a drop.
  program.push_back(statement(BPF_LD | BPF_B | BPF_IND, 0));
  std::uint8_t left = wanted;
  for (const std::uint8_t first : firstBytes) {
    --left;
    // On a match jump over the remaining tests to the accept.
    program.push_back(
        jump(BPF_JMP | BPF_JEQ | BPF_K, first, left, static_cast<std::uint8_t>(left == 0 ? 1 : 0)));
  }
  program.push_back(statement(BPF_RET | BPF_K, kKeepWhole));
  program.push_back(statement(BPF_RET | BPF_K, 0));
  return program;
}

std::vector<sock_filter> captureProgramFor(int ipProtocol) {
  if (ipProtocol == kIgmpProtocol) return captureProgram(ipProtocol, {kMembershipQuery});
  if (ipProtocol == kPimProtocol) {
    return captureProgram(ipProtocol, {kPimHello, kPimCandidateRpAdvertisement});
  }
  return dropAllProgram();
}

std::vector<sock_filter> echoReplyProgram(std::uint16_t identifier) {
  // A half-word load reads network order: the identifier's low byte first.
  const auto onTheWire =
      static_cast<std::uint32_t>(((identifier & 0xFFU) << 8U) | (identifier >> 8U));
  // Every miss jumps to the drop at index 10.
  return {
      statement(BPF_LD | BPF_H | BPF_ABS, kFragmentOffset),
      jump(BPF_JMP | BPF_JSET | BPF_K, kFragmentOffsetMask, 8, 0),
      statement(BPF_LDX | BPF_B | BPF_MSH, 0),
      statement(BPF_MISC | BPF_TXA, 0),
      jump(BPF_JMP | BPF_JGE | BPF_K, kMinHeaderLength, 0, 5),
      // A read past the end of the datagram ends the program with a drop.
      statement(BPF_LD | BPF_B | BPF_IND, 0),
      jump(BPF_JMP | BPF_JEQ | BPF_K, kEchoReply, 0, 3),
      statement(BPF_LD | BPF_H | BPF_IND, kEchoIdentifierOffset),
      jump(BPF_JMP | BPF_JEQ | BPF_K, onTheWire, 0, 1),
      statement(BPF_RET | BPF_K, kKeepWhole),
      statement(BPF_RET | BPF_K, 0),
  };
}

std::vector<sock_filter> beaconProgram(std::uint32_t group, std::uint16_t port,
                                       std::optional<std::uint32_t> source) {
  // Every test jumps to the final drop on a miss; the distance is filled in
  // once the program's length is known.
  constexpr std::uint8_t kToDrop = 0xFF;
  std::vector<sock_filter> program{
      statement(BPF_LD | BPF_B | BPF_ABS, kProtocolOffset),
      jump(BPF_JMP | BPF_JEQ | BPF_K, kUdpProtocol, 0, kToDrop),
      statement(BPF_LD | BPF_H | BPF_ABS, kFragmentOffset),
      jump(BPF_JMP | BPF_JSET | BPF_K, kFragmentOffsetMask, kToDrop, 0),
      statement(BPF_LD | BPF_W | BPF_ABS, kDestinationOffset),
      jump(BPF_JMP | BPF_JEQ | BPF_K, group, 0, kToDrop),
  };
  if (source) {
    program.push_back(statement(BPF_LD | BPF_W | BPF_ABS, kSourceOffset));
    program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, *source, 0, kToDrop));
  }
  // X = 4 * IHL; the UDP destination port follows the header by 2 bytes.
  program.push_back(statement(BPF_LDX | BPF_B | BPF_MSH, 0));
  program.push_back(statement(BPF_LD | BPF_H | BPF_IND, kUdpDestinationPortOffset));
  program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, port, 0, kToDrop));
  program.push_back(statement(BPF_RET | BPF_K, kKeepWhole));
  program.push_back(statement(BPF_RET | BPF_K, 0));
  const std::size_t drop = program.size() - 1;
  for (std::size_t i = 0; i < program.size(); ++i) {
    auto patch = [&](std::uint8_t& offset) {
      if (offset == kToDrop) offset = static_cast<std::uint8_t>(drop - i - 1);
    };
    patch(program[i].jt);
    patch(program[i].jf);
  }
  return program;
}

std::vector<sock_filter> dropAllProgram() { return {statement(BPF_RET | BPF_K, 0)}; }

}  // namespace net::linux_if
