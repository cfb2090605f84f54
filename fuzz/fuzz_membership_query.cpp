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
  if (read->version == 3) {
    // RFC 3376 4.1.7, decoded here on its own: QQIC below 128 is the
    // interval; from 128 on, 1 exp(3) mant(4) means (mant | 0x10) << (exp + 3).
    const std::uint8_t qqic = data[header + 9];
    const std::uint32_t expected =
        qqic < 128 ? qqic : (0x10U + (qqic & 0x0FU)) * (1U << (((qqic >> 4U) & 0x07U) + 3U));
    FUZZ_CHECK(read->queryIntervalSeconds == expected);
    FUZZ_CHECK(read->robustness == (data[header + 8] & 0x07U));
    const std::size_t count = static_cast<std::size_t>(data[header + 10]) << 8U | data[header + 11];
    FUZZ_CHECK(read->sourceCount == count);
    // Only whole sources, no more than the query claims or the bound allows.
    const std::size_t whole = (length - 12) / 4;
    FUZZ_CHECK(read->sources.size() == std::min({whole, count, kMaxQuerySourcesKept}));
    for (std::size_t i = 0; i < read->sources.size(); ++i) {
      FUZZ_CHECK(std::equal(data + header + 12 + 4 * i, data + header + 16 + 4 * i,
                            read->sources[i].bytes().begin()));
    }
  } else {
    FUZZ_CHECK(!read->robustness && !read->queryIntervalSeconds && read->sources.empty());
  }
  FUZZ_CHECK(std::equal(data + 12, data + 16, read->sender.bytes().begin()));
  FUZZ_CHECK(std::equal(data + header + 4, data + header + 8, read->group.bytes().begin()));

  const net::Address named = read->group;
  for (const net::Address& asked :
       {net::Address::v4(0xE904C813U), net::Address::v4(0xE8408578U), net::Address{}, named}) {
    FUZZ_CHECK(asksAbout(*read, asked) == (named == asked || named.isUnspecified()));
  }
  return 0;
}
