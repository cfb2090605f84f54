// net::ipDatagramOf on arbitrary frames of every link type a capture reads:
// the first input byte picks the type, the rest is the frame. What it hands
// on is the frame's own tail, after a header of the type's length that names
// IPv4 or IPv6, and nothing else.
#include <array>

#include "fuzz/fuzz_check.h"
#include "net/packet/link_layer.h"

namespace {

using net::LinkType;

struct Layout {
  LinkType type;
  std::size_t header;
  // Where the EtherType sits; the header's length when the frame is bare IP.
  std::size_t typeAt;
};

constexpr std::array<Layout, 6> kLayouts{{{LinkType::Ethernet, 14, 12},
                                          {LinkType::LinuxCooked, 16, 14},
                                          {LinkType::LinuxCooked2, 20, 0},
                                          {LinkType::RawIp, 0, 0},
                                          {LinkType::Ipv4, 0, 0},
                                          {LinkType::Ipv6, 0, 0}}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Layout& layout = kLayouts[data[0] % kLayouts.size()];
  const auto frame = fuzzing::bytesOf(data + 1, size - 1);
  const auto datagram = net::ipDatagramOf(static_cast<int>(layout.type), frame);
  if (layout.header == 0) {
    FUZZ_CHECK(datagram && datagram->data() == frame.data() && datagram->size() == frame.size());
    return 0;
  }
  const bool ip = frame.size() >= layout.header &&
                  ((frame[layout.typeAt] == 0x08 && frame[layout.typeAt + 1] == 0x00) ||
                   (frame[layout.typeAt] == 0x86 && frame[layout.typeAt + 1] == 0xDD));
  FUZZ_CHECK(datagram.has_value() == ip);
  if (datagram) {
    FUZZ_CHECK(datagram->data() == frame.data() + layout.header);
    FUZZ_CHECK(datagram->size() == frame.size() - layout.header);
  }
  return 0;
}
