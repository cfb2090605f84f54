// The filter a link capture runs in the kernel: a libpcap filter expression,
// which a network engineer reads at a glance, kept next to the probe that
// owns it, and compiled when the capture opens.
#pragma once

#include <string>

#include "net/address.h"

namespace net {

// What `probeFilter` keeps, except what `ownAddress` sent: this host's own
// packets are never evidence, and on kernels that cannot keep a capture's
// outgoing frames out (before 4.20) this keeps them out of the ring.
std::string captureFilter(const std::string& probeFilter, const Address& ownAddress);

// An expression that keeps nothing (no frame is 0 bytes long): for a capture
// nobody reads, and a raw socket that only sends.
inline constexpr const char* kKeepNothing = "less 0";

}  // namespace net
