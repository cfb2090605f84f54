// readPimMessage on arbitrary datagrams: only IP protocol 103 with a
// version 2 Hello or Candidate-RP-Advertisement byte is ever named.
#include "fuzz/fuzz_check.h"
#include "probes/pim_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const std::size_t header = fuzzing::declaredHeaderLength(datagram);
  const bool pim = fuzzing::carriesPayload(datagram, 1) && data[9] == kPimProtocol;

  const PimMessage message = readPimMessage(datagram);
  if (!pim) {
    FUZZ_CHECK(message == PimMessage::Other);
  } else if (data[header] == 0x20) {
    FUZZ_CHECK(message == PimMessage::Hello);
  } else if (data[header] == 0x28) {
    FUZZ_CHECK(message == PimMessage::CandidateRpAdvertisement);
  } else {
    FUZZ_CHECK(message == PimMessage::Other);
  }
  return 0;
}
