// A capture of what reaches the pass's interface that a probe only reads.
#pragma once

#include <memory>

#include "net/capture/capture_request.h"
#include "net/interfaces.h"
#include "net/network.h"

namespace net {

// What Network::openBeaconCapture opens on this platform: nullptr where it
// has no such capture, or for an interface known only by its address.
std::unique_ptr<ProbeSocket> openBeaconCapture(const CaptureRequest& request, const PassLink& link);

}  // namespace net
