// readQueryDetails on arbitrary datagrams: it reads only whole queries of a
// known form, and agrees with the reader that decides test 5 and 6.
#include "fuzz/fuzz_check.h"
#include "probes/igmp_messages.h"
#include "probes/igmp_query_details.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const auto details = readQueryDetails(datagram);
  if (!details) return 0;

  const std::size_t header = fuzzing::declaredHeaderLength(datagram);
  FUZZ_CHECK(fuzzing::carriesPayload(datagram, 8));
  FUZZ_CHECK(data[9] == IPPROTO_IGMP && data[header] == 0x11);
  const std::size_t length = fuzzing::declaredDatagramLength(datagram) - header;
  FUZZ_CHECK(length == 8 || length >= 12);
  FUZZ_CHECK(details->version == (length >= 12 ? 3 : (data[header + 1] == 0 ? 1 : 2)));
  FUZZ_CHECK(details->maxResponseMs <= 3174400U);
  // Every query shown in the details is one the pass itself counts.
  FUZZ_CHECK(readMembershipQuery(datagram, details->group).has_value());
  return 0;
}
