// What a pass owes the link if it is ended early. Between a membership
// report and its leave, or a PIM Hello and its goodbye, a Ctrl-C or a
// termination request would leave the router holding the host's state for
// minutes; the signal's handler sends what is pending first, and removes a
// temporary file that was never renamed into place, then ends as before.
// On Windows nothing is registered and the process ends as it always has.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "net/platform.h"

namespace net {

// One message, armed between the send that makes it owed and the send that
// pays it; the socket must outlive the arming. Disarmed when destroyed.
class PendingFarewell {
 public:
  PendingFarewell() = default;
  ~PendingFarewell() { disarm(); }
  PendingFarewell(const PendingFarewell&) = delete;
  PendingFarewell& operator=(const PendingFarewell&) = delete;
  PendingFarewell(PendingFarewell&&) = delete;
  PendingFarewell& operator=(PendingFarewell&&) = delete;

  // Replaces what was armed before. A message too long to hold, or more
  // farewells pending than there are places for, is not armed.
  void arm(NativeSocket handle, std::span<const std::uint8_t> message,
           const SocketAddress& destination) noexcept;
  void disarm() noexcept;

 private:
  int slot_ = -1;
};

// A temporary file to remove should the process end before it is renamed.
class PendingRemoval {
 public:
  explicit PendingRemoval(const std::string& path) noexcept;
  ~PendingRemoval() { disarm(); }
  PendingRemoval(const PendingRemoval&) = delete;
  PendingRemoval& operator=(const PendingRemoval&) = delete;
  PendingRemoval(PendingRemoval&&) = delete;
  PendingRemoval& operator=(PendingRemoval&&) = delete;

  // Renamed into place: the name is no longer ours to remove.
  void disarm() noexcept;

 private:
  bool armed_ = false;
};

// From here on SIGINT and SIGTERM settle what is pending, then end the
// process as the signal would have (a shell shows 130 and 143). A signal
// ignored when the process started stays ignored.
void settleOnInterrupt();

// Sends every pending farewell and removes the pending file. Safe in a
// signal handler: only sendto and unlink are called.
void settlePending() noexcept;

}  // namespace net
