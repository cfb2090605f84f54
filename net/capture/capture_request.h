// What a capture should let through, said the same way to every platform and
// to the tests' scripted network: the probes describe the messages they want,
// and only the platform's capture turns that into its own filter (on Linux a
// libpcap expression or a BPF program, capture/capture_filter.h). The
// interface it listens on is the pass's link, given beside the request.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "net/address.h"

namespace net {

struct CaptureRequest {
  Family family = Family::V4;
  // The IP protocol: IPv4's protocol field, or for IPv6 the header that
  // follows the extension headers (1 ICMP, 2 IGMP, 17 UDP, 58 ICMPv6, 103 PIM).
  int protocol = 0;
  // Kept only when the message's first byte is one of these (an ICMP or IGMP
  // type, PIM's version and type); any message when empty.
  std::vector<std::uint8_t> messageTypes;
  // Echo messages alone: the identifier field as it reads on the wire,
  // big-endian (its bytes 4 and 5).
  std::optional<std::uint16_t> echoIdentifier;
  // Kept only when sent to this address, and to this port when not 0.
  std::optional<Endpoint> destination;
  // Kept only when sent from this address.
  std::optional<Address> source;

  friend bool operator==(const CaptureRequest&, const CaptureRequest&) = default;
};

// UDP datagrams to `groupAndPort`, from `source` alone when given: a beacon's.
inline CaptureRequest udpDatagramsTo(const Endpoint& groupAndPort,
                                     const std::optional<Address>& source) {
  constexpr int kUdpProtocol = 17;
  return CaptureRequest{
      groupAndPort.address.family(), kUdpProtocol, {}, std::nullopt, groupAndPort, source};
}

}  // namespace net
