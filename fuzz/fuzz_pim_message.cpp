// readPimMessage on arbitrary datagrams: only IP protocol 103 with a whole
// PIM version 2 header is read, its type is the header's own, and a Hello's
// options are read only while whole (the sanitizers watch every read).
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "probes/pim_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const std::size_t header = fuzzing::declaredHeaderLength(datagram);
  const bool pim =
      fuzzing::carriesPayload(datagram, 4) && data[9] == kPimProtocol && (data[header] >> 4U) == 2U;

  const auto message = readPimMessage(datagram);
  FUZZ_CHECK(message.has_value() == pim);
  if (!message) return 0;
  FUZZ_CHECK(std::equal(data + 12, data + 16, message->sender.bytes().begin()));
  switch (data[header] & 0x0FU) {
    case 0:
      FUZZ_CHECK(message->type == PimMessage::Type::Hello);
      break;
    case 8:
      FUZZ_CHECK(message->type == PimMessage::Type::CandidateRpAdvertisement);
      break;
    default:
      FUZZ_CHECK(message->type == PimMessage::Type::Other);
  }
  const HelloOptions& hello = message->hello;
  if (message->type != PimMessage::Type::Hello) {
    FUZZ_CHECK(!hello.holdtimeSeconds && !hello.drPriority && !hello.generationId);
  }
  // Each option needs its own 4-byte head and its value after the PIM header.
  if (hello.holdtimeSeconds) FUZZ_CHECK(fuzzing::carriesPayload(datagram, 10));
  if (hello.drPriority || hello.generationId) FUZZ_CHECK(fuzzing::carriesPayload(datagram, 12));
  return 0;
}
