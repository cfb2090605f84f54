// echoReplySender on arbitrary datagrams, for the identifier the datagram
// carries and for its neighbours.
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "probes/icmp_echo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const std::size_t header = fuzzing::declaredHeaderLength(datagram);
  const bool whole = fuzzing::carriesPayload(datagram, 6);
  const bool reply = whole && data[header] == 0;

  // The identifier travels low byte first, as the request wrote it.
  const auto carried =
      static_cast<std::uint16_t>(whole ? data[header + 4] | (data[header + 5] << 8U) : 0);
  const auto sender = echoReplySender(datagram, carried);
  FUZZ_CHECK(sender.has_value() == reply);
  if (sender) FUZZ_CHECK(std::equal(data + 12, data + 16, sender->bytes().begin()));
  FUZZ_CHECK(!echoReplySender(datagram, static_cast<std::uint16_t>(carried + 1U)));
  FUZZ_CHECK(!echoReplySender(datagram, static_cast<std::uint16_t>(carried ^ 0x8000U)));
  return 0;
}
