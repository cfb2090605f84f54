// readMldQuery on arbitrary datagrams: only whole MLD queries (ICMPv6 type
// 130 of 24 bytes, or 28 and more) are read, every field comes from its own
// bytes, the codes decode as RFC 3810 5.1.3 and 5.1.9 say, and asksAbout
// agrees with the group the query names.
#include <algorithm>

#include "fuzz/fuzz_check.h"
#include "probes/mld_messages.h"

namespace {

// RFC 3810 5.1.3, decoded here on its own: below 32768 the delay in ms; from
// 32768 on, 1 exp(3) mant(12) means (mant | 0x1000) << (exp + 3).
std::uint32_t maxResponseDelay(std::uint32_t code) {
  if (code < 32768U) return code;
  return (0x1000U + (code & 0x0FFFU)) * (1U << (((code >> 12U) & 0x07U) + 3U));
}

// RFC 3810 5.1.9, coded as IGMPv3's QQIC: 1 exp(3) mant(4) from 128 on.
std::uint32_t queryInterval(std::uint32_t qqic) {
  if (qqic < 128U) return qqic;
  return (0x10U + (qqic & 0x0FU)) * (1U << (((qqic >> 4U) & 0x07U) + 3U));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const fuzzing::Carried carried = fuzzing::carried(datagram);
  const std::size_t length = carried.length;
  const std::uint8_t* mld = data + carried.at;
  const bool query = carried.present && carried.v6 && carried.protocol == 58 && length >= 1 &&
                     mld[0] == 130 && (length == 24 || length >= 28);

  const auto read = readMldQuery(datagram);
  FUZZ_CHECK(read.has_value() == query);
  if (!read) return 0;
  const std::uint32_t code = static_cast<std::uint32_t>(mld[4]) << 8U | mld[5];
  FUZZ_CHECK(std::equal(data + 8, data + 24, read->sender.bytes().begin()));
  FUZZ_CHECK(std::equal(data + 24, data + 40, read->destination.bytes().begin()));
  FUZZ_CHECK(read->group.bytes().size() == 16);
  FUZZ_CHECK(std::equal(mld + 8, mld + 24, read->group.bytes().begin()));
  if (length == 24) {
    FUZZ_CHECK(read->version == 1);
    FUZZ_CHECK(read->maxResponseMs == code);
    FUZZ_CHECK(!read->robustness && !read->queryIntervalSeconds && read->sources.empty());
  } else {
    FUZZ_CHECK(read->version == 2);
    FUZZ_CHECK(read->maxResponseMs == maxResponseDelay(code));
    FUZZ_CHECK(read->maxResponseMs <= 8387584U);
    FUZZ_CHECK(read->robustness == (mld[24] & 0x07U));
    FUZZ_CHECK(read->queryIntervalSeconds == queryInterval(mld[25]));
    const std::size_t count = static_cast<std::size_t>(mld[26]) << 8U | mld[27];
    FUZZ_CHECK(read->sourceCount == count);
    // Only whole sources, no more than the query claims or the bound allows.
    const std::size_t whole = (length - 28) / 16;
    FUZZ_CHECK(read->sources.size() == std::min({whole, count, kMaxQuerySourcesKept}));
    for (std::size_t i = 0; i < read->sources.size(); ++i) {
      FUZZ_CHECK(
          std::equal(mld + 28 + 16 * i, mld + 44 + 16 * i, read->sources[i].bytes().begin()));
    }
  }

  const net::Address named = read->group;
  const net::Address asm6 = *net::Address::parseV6("ff3e:20:2001:db8::19");
  for (const net::Address& asked : {asm6, *net::Address::parseV6("::"), named}) {
    FUZZ_CHECK(asksAbout(*read, asked) == (named == asked || named.isUnspecified()));
  }
  return 0;
}
