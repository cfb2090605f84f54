// A capture request as libpcap's filter language says it: what a link
// capture on Linux runs in the kernel, compiled when the capture opens. A
// network engineer reads these at a glance; nothing outside the platform's
// capture code sees them.
#pragma once

#include <string>

#include "net/address.h"
#include "net/capture/capture_request.h"

namespace net {

// The expression for datagrams seen from their IP header on (a link capture,
// a raw IPv4 socket), say "igmp and igmp[0] == 0x11". Header accessors and
// port tests keep IPv4's first fragments alone, as only they carry the
// message's header, and IPv6 datagrams whose message follows the fixed
// header, as a beacon's does. Throws std::invalid_argument for a protocol
// the filter language has no name for here.
std::string expressionFromIpHeader(const CaptureRequest& request);

// The expression for ICMPv6 messages seen alone, as a raw ICMPv6 socket's
// program sees them (link[] counts from the message's first byte): of the
// request only the message types and the echo identifier can be said there.
// Throws std::invalid_argument for a request that says more.
std::string expressionFromIcmpv6Message(const CaptureRequest& request);

// What `probeFilter` keeps, except what `ownAddress` sent: this host's own
// packets are never evidence, and on kernels that cannot keep a capture's
// outgoing frames out (before 4.20) this keeps them out of the ring.
std::string captureFilter(const std::string& probeFilter, const Address& ownAddress);

// An expression that keeps nothing (no frame is 0 bytes long): for a capture
// nobody reads, and a raw socket that only sends.
inline constexpr const char* kKeepNothing = "less 0";

}  // namespace net
