// readMembershipQuery on arbitrary datagrams: only whole IGMP Membership
// Queries of a length a router would answer are read, every field comes from
// its own bytes, and asksAbout agrees with the group the query names.
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "probes/igmp_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const std::size_t header = fuzzing::declaredHeaderLength(datagram);
  const bool whole = fuzzing::carriesPayload(datagram, 8);
  const std::size_t length = whole ? fuzzing::declaredDatagramLength(datagram) - header : 0;
  const bool query =
      whole && data[9] == kIgmpProtocol && data[header] == 0x11 && (length == 8 || length >= 12);

  const auto read = readMembershipQuery(datagram);
  FUZZ_CHECK(read.has_value() == query);
  if (!read) return 0;
  FUZZ_CHECK(read->version == (length >= 12 ? 3 : (data[header + 1] == 0 ? 1 : 2)));
  FUZZ_CHECK(read->maxResponseMs <= 3174400U);
  FUZZ_CHECK(std::equal(data + 12, data + 16, read->sender.bytes().begin()));
  FUZZ_CHECK(std::equal(data + header + 4, data + header + 8, read->group.bytes().begin()));

  const net::Address named = read->group;
  for (const net::Address& asked :
       {net::Address::v4(0xE904C813U), net::Address::v4(0xE8408578U), net::Address{}, named}) {
    FUZZ_CHECK(asksAbout(*read, asked) == (named == asked || named.isUnspecified()));
  }
  return 0;
}
