// net::parseIpv4 and net::ipSourceOf on arbitrary bytes: every input is a
// datagram as a raw socket or capture could hand it over (up to 4096 bytes).
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "net/ip_datagram.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const std::size_t header = fuzzing::declaredHeaderLength(datagram);

  // The lengths the probes ask for, and the edges around what this input holds.
  const std::size_t length = fuzzing::declaredDatagramLength(datagram);
  const std::size_t after = length > header ? length - header : 0;
  for (const std::size_t needed :
       {std::size_t{0}, std::size_t{1}, std::size_t{6}, std::size_t{8}, after, after + 1}) {
    const auto parsed = net::parseIpv4(datagram, needed);
    FUZZ_CHECK(parsed.has_value() == fuzzing::carriesPayload(datagram, needed));
    if (!parsed) continue;
    // The payload follows the header and ends with the datagram, never
    // beyond the bytes received.
    FUZZ_CHECK(parsed->payload.data() == data + header);
    FUZZ_CHECK(parsed->payload.size() == length - header);
    FUZZ_CHECK(parsed->protocol == data[9]);
  }

  const sockaddr_in source = net::ipSourceOf(datagram);
  FUZZ_CHECK(source.sin_family == AF_INET);
  FUZZ_CHECK(source.sin_port == 0);
  std::uint32_t expected = 0;
  if (size >= 16) std::memcpy(&expected, data + 12, 4);
  FUZZ_CHECK(source.sin_addr.s_addr == expected);
  return 0;
}
