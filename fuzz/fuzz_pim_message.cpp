// readPimMessage on arbitrary datagrams of either family: only protocol (or
// last next header) 103 with a whole PIM version 2 header is read, its type
// is the header's own, and a Hello's options are read only while whole (the
// sanitizers watch every read).
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "probes/pim_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const fuzzing::Carried carried = fuzzing::carried(datagram);
  const bool pim = carried.present && carried.length >= 4 && carried.protocol == kPimProtocol &&
                   (data[carried.at] >> 4U) == 2U;

  const auto message = readPimMessage(datagram);
  FUZZ_CHECK(message.has_value() == pim);
  if (!message) return 0;
  FUZZ_CHECK(message->sender.bytes().size() == carried.addressLength);
  FUZZ_CHECK(std::equal(data + carried.sourceAt, data + carried.sourceAt + carried.addressLength,
                        message->sender.bytes().begin()));
  switch (data[carried.at] & 0x0FU) {
    case 0:
      FUZZ_CHECK(message->type == PimMessage::Type::Hello);
      break;
    case 4:
      FUZZ_CHECK(message->type == PimMessage::Type::Bootstrap);
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
  if (hello.holdtimeSeconds) FUZZ_CHECK(carried.length >= 10);
  if (hello.drPriority || hello.generationId) FUZZ_CHECK(carried.length >= 12);
  return 0;
}
