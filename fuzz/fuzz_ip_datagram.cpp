// net::parseDatagram on arbitrary bytes: every input is a datagram as a raw
// socket or capture could hand it over (up to 4096 bytes).
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "net/ip_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const auto parsed = net::parseDatagram(datagram);
  FUZZ_CHECK(parsed.has_value() == fuzzing::carriesPayload(datagram, 0));
  if (!parsed) return 0;

  // The payload follows the header and ends with the datagram, never beyond
  // the bytes received.
  const std::size_t header = fuzzing::declaredHeaderLength(datagram);
  const std::size_t length = fuzzing::declaredDatagramLength(datagram);
  FUZZ_CHECK(parsed->family == net::Family::V4);
  FUZZ_CHECK(parsed->payload.data() == data + header);
  FUZZ_CHECK(parsed->payload.size() == length - header);
  FUZZ_CHECK(parsed->protocol == data[9]);
  FUZZ_CHECK(parsed->hopLimit == data[8]);
  FUZZ_CHECK(std::equal(data + 12, data + 16, parsed->source.bytes().begin()));
  FUZZ_CHECK(std::equal(data + 16, data + 20, parsed->destination.bytes().begin()));
  return 0;
}
