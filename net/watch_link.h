// What a watch of the link reads: the beacons' datagrams, received as any
// application receives them (joined through the kernel, so that the host
// answers queries with its own reports), and a capture of the link's
// membership messages and PIM Hellos, the host's own outgoing ones included.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/address.h"
#include "net/interfaces.h"

namespace net {

struct WatchedBeacon {
  Address group;
  std::optional<Address> source;
  std::uint16_t port = 0;
};

using WatchTime = std::chrono::system_clock::time_point;

struct BeaconArrival {
  // Index into the beacons the watcher was opened with.
  std::size_t beacon = 0;
  Address sender;
  int ttl = 0;
  // The kernel's receive time, or the read's when it gave none.
  WatchTime stamp;
};

struct LinkFrame {
  // IP header first.
  std::span<const std::uint8_t> datagram;
  // This host sent it.
  bool outgoing = false;
  WatchTime stamp;
};

class LinkWatcher {
 public:
  LinkWatcher() = default;
  virtual ~LinkWatcher() = default;
  LinkWatcher(const LinkWatcher&) = delete;
  LinkWatcher& operator=(const LinkWatcher&) = delete;
  LinkWatcher(LinkWatcher&&) = delete;
  LinkWatcher& operator=(LinkWatcher&&) = delete;

  // Waits at most `timeout` for traffic, then hands over all that is queued.
  // Throws CV_SocketException("recvFrom") when a read fails.
  virtual void wait(std::chrono::milliseconds timeout,
                    const std::function<void(const BeaconArrival&)>& onBeacon,
                    const std::function<void(const LinkFrame&)>& onFrame) = 0;
  // Whether the link capture is open: without it (no CAP_NET_RAW) only the
  // beacons are seen.
  [[nodiscard]] virtual bool capturing() const = 0;
  // Why the capture could not open, when it could not.
  [[nodiscard]] virtual std::string captureProblem() const = 0;
};

// Joins the beacons on `link` and opens the capture. Throws
// CV_SocketException when a beacon cannot be received at all, and
// CV_PlatformLacksException where the platform has no watch.
std::unique_ptr<LinkWatcher> openLinkWatcher(Family family, const LinkInterface& link,
                                             const std::vector<WatchedBeacon>& beacons);

// The index of the interface named `name` while it exists and is up; nothing
// when it is down or gone.
std::optional<unsigned int> linkIndexIfUp(const std::string& name);

}  // namespace net
