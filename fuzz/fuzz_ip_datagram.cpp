// net::parseDatagram on arbitrary bytes: every input is a datagram as a raw
// socket or capture could hand it over (up to 4096 bytes), IPv4 or IPv6.
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "net/packet/ip_datagram.h"

namespace {

void checkIpv4(const std::uint8_t* data, std::span<const std::uint8_t> datagram,
               const std::optional<net::IpDatagram>& parsed) {
  FUZZ_CHECK(parsed.has_value() == fuzzing::carriesPayload(datagram, 0));
  if (!parsed) return;
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
  FUZZ_CHECK(parsed->routerAlert == fuzzing::ipv4RouterAlert(datagram.subspan(20, header - 20)));
}

void checkIpv6(const std::uint8_t* data, std::span<const std::uint8_t> datagram,
               const std::optional<net::IpDatagram>& parsed) {
  const fuzzing::Ipv6Walk walk = fuzzing::walkIpv6(datagram);
  // A later fragment's data begins mid-message: never a message.
  if (walk.laterFragment) FUZZ_CHECK(!parsed);
  FUZZ_CHECK(parsed.has_value() == walk.message);
  if (!parsed) return;
  FUZZ_CHECK(parsed->family == net::Family::V6);
  // The payload lies within the bytes, from the end of the chain to the
  // datagram's end; its protocol is the last next header read.
  FUZZ_CHECK(parsed->payload.data() == data + walk.payloadAt);
  FUZZ_CHECK(walk.payloadAt + parsed->payload.size() == walk.end);
  FUZZ_CHECK(walk.end <= datagram.size());
  FUZZ_CHECK(parsed->protocol == walk.protocol);
  FUZZ_CHECK(parsed->hopLimit == data[7]);
  FUZZ_CHECK(std::equal(data + 8, data + 24, parsed->source.bytes().begin()));
  FUZZ_CHECK(std::equal(data + 24, data + 40, parsed->destination.bytes().begin()));
  FUZZ_CHECK(parsed->routerAlert == walk.routerAlert);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const auto parsed = net::parseDatagram(datagram);
  if (fuzzing::versionFour(datagram)) {
    checkIpv4(data, datagram, parsed);
  } else if (fuzzing::versionSix(datagram)) {
    checkIpv6(data, datagram, parsed);
  } else {
    FUZZ_CHECK(!parsed);
  }
  return 0;
}
