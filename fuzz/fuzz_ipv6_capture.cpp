// The IPv6 capture's hand-written programs (net/linux/capture_programs.cpp),
// built from the probes' own requests and run by libpcap's own BPF
// interpreter, against the readers on the same bytes:
// every query the MLD reader counts and every Hello, Bootstrap message or
// Candidate-RP-Advertisement the PIM reader of an IPv6 capture counts, the
// kernel must keep; and nothing kept is of another IP version.
#include <pcap/pcap.h>

#include <vector>

#include "fuzz/fuzz_check.h"
#include "net/linux/capture_programs.h"
#include "probes/mld_messages.h"
#include "probes/pim_messages.h"

namespace {

std::vector<bpf_insn> asPcapProgram(const std::vector<sock_filter>& program) {
  std::vector<bpf_insn> steps;
  for (const sock_filter& step : program) steps.push_back({step.code, step.jt, step.jf, step.k});
  return steps;
}

bool keeps(const std::vector<bpf_insn>& program, const std::uint8_t* data, std::size_t size) {
  const auto length = static_cast<u_int>(size);
  return ::bpf_filter(program.data(), data, length, length) != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<bpf_insn> mld =
      asPcapProgram(net::linux_if::ipv6CaptureProgramFor(mldQueryCapture()));
  static const std::vector<bpf_insn> pim =
      asPcapProgram(net::linux_if::ipv6CaptureProgramFor(pimMessageCapture(net::Family::V6)));
  const auto datagram = fuzzing::bytesOf(data, size);
  const bool keptMld = keeps(mld, data, size);
  const bool keptPim = keeps(pim, data, size);

  if (readMldQuery(datagram)) FUZZ_CHECK(keptMld);
  const auto message = readPimMessage(datagram, net::Family::V6);
  if (message && message->type != PimMessage::Type::Other) FUZZ_CHECK(keptPim);
  // Whatever a program keeps is IPv6 with a message after its fixed header.
  if (keptMld || keptPim) FUZZ_CHECK(fuzzing::versionSix(datagram) && size > 40);
  return 0;
}
