// echoReplySender on arbitrary datagrams of either family, for the
// identifier the datagram carries and for its neighbours.
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "probes/icmp_echo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const fuzzing::Carried message = fuzzing::carried(datagram);
  // IPv4 takes type 0 from a raw ICMP socket, whatever the protocol byte;
  // IPv6 takes type 129 in ICMPv6 alone.
  const bool whole =
      message.present && message.length >= 6 && (!message.v6 || message.protocol == 58);
  const bool reply = whole && data[message.at] == (message.v6 ? 129 : 0);

  // The identifier travels low byte first, as the request wrote it.
  const auto carried =
      static_cast<std::uint16_t>(whole ? data[message.at + 4] | (data[message.at + 5] << 8U) : 0);
  const auto sender = echoReplySender(datagram, carried);
  FUZZ_CHECK(sender.has_value() == reply);
  if (sender) {
    FUZZ_CHECK(sender->bytes().size() == message.addressLength);
    FUZZ_CHECK(std::equal(data + message.sourceAt, data + message.sourceAt + message.addressLength,
                          sender->bytes().begin()));
  }
  FUZZ_CHECK(!echoReplySender(datagram, static_cast<std::uint16_t>(carried + 1U)));
  FUZZ_CHECK(!echoReplySender(datagram, static_cast<std::uint16_t>(carried ^ 0x8000U)));
  return 0;
}
