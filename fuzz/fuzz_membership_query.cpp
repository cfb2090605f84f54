// readMembershipQuery on arbitrary datagrams, asked about the groups the
// battery probes, no group, and the group the datagram itself names.
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "probes/igmp_messages.h"

namespace {

constexpr std::uint8_t kMembershipQuery = 0x11;

in_addr groupOf(std::uint32_t networkOrder) {
  in_addr group;
  group.s_addr = networkOrder;
  return group;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto datagram = fuzzing::bytesOf(data, size);
  const std::size_t header = fuzzing::declaredHeaderLength(datagram);
  const bool whole = fuzzing::carriesPayload(datagram, 8);

  std::uint32_t named = 0;
  if (whole) std::memcpy(&named, data + header + 4, 4);
  const std::uint32_t asmGroup = htonl(0xE904C813U);  // 233.4.200.19
  const std::uint32_t ssmGroup = htonl(0xE8408578U);  // 232.64.133.120

  for (const std::uint32_t asked : {asmGroup, ssmGroup, std::uint32_t{0}, named}) {
    const auto query = readMembershipQuery(datagram, groupOf(asked));
    FUZZ_CHECK(query.has_value() == (whole && data[header] == kMembershipQuery));
    if (!query) continue;
    FUZZ_CHECK(query->asksAboutGroup == (named == asked || named == 0));
  }
  return 0;
}
