// net::Address's text forms on arbitrary text: whatever parses prints in a
// form that parses back to the same address, and every 16 bytes print in
// such a form.
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "net/address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& parsed : {net::Address::parseV4(text), net::Address::parseV6(text)}) {
    if (!parsed) continue;
    const std::string printed = parsed->toString();
    const auto again =
        parsed->isV4() ? net::Address::parseV4(printed) : net::Address::parseV6(printed);
    FUZZ_CHECK(again.has_value() && *again == *parsed);
    // Printing is canonical: the printed form prints as itself.
    FUZZ_CHECK(again->toString() == printed);
  }
  if (size >= 16) {
    const auto address = net::Address::fromBytes(fuzzing::bytesOf(data, 16));
    const auto again = net::Address::parseV6(address->toString());
    FUZZ_CHECK(again.has_value() && *again == *address);
  }
  return 0;
}
