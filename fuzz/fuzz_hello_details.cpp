// readHelloDetails on arbitrary datagrams: it reads exactly the Hellos that the
// PIM test counts, and never past the datagram (the sanitizers watch that).
#include "fuzz/fuzz_check.h"
#include "probes/pim_hello_options.h"
#include "probes/pim_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const auto details = readHelloDetails(datagram);
  const bool counted = readPimMessage(datagram) == PimMessage::Hello;
  FUZZ_CHECK(details.has_value() == (counted && fuzzing::carriesPayload(datagram, 4)));
  if (details && details->holdtimeSeconds) {
    // A holdtime needs its whole 6-byte option after the 4-byte header.
    FUZZ_CHECK(fuzzing::carriesPayload(datagram, 10));
  }
  return 0;
}
