// Where the one listening loop reads: a socket's own queue, or a capture of
// the link that hands datagrams over in batches.
#pragma once

#include <chrono>
#include <cstdint>

#include "net/network.h"
#include "net/platform.h"

namespace net {

class DatagramSource {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  DatagramSource() = default;
  virtual ~DatagramSource() = default;
  DatagramSource(const DatagramSource&) = delete;
  DatagramSource& operator=(const DatagramSource&) = delete;
  DatagramSource(DatagramSource&&) = delete;
  DatagramSource& operator=(DatagramSource&&) = delete;

  // Readable when readNow has something to hand over.
  [[nodiscard]] virtual NativeSocket waitHandle() const = 0;
  // A datagram that arrived by `end` is held already: readNow hands it over
  // without a wait.
  [[nodiscard]] virtual bool holdsDatagram(TimePoint /*end*/) const { return false; }
  // Hands `onDatagram` what can be read now without waiting, of what arrived
  // by `end`, until it says stop. Throws CV_SocketException("recvFrom").
  virtual AfterDatagram readNow(const DatagramHandler& onDatagram, TimePoint end) = 0;
  // Once `end` has come: hands over what arrived by then but cannot be read
  // yet, within a short bound. A socket's queue holds it all already.
  virtual void readOwed(const DatagramHandler& /*onDatagram*/, TimePoint /*end*/) {}
};

// The one listening loop: a deadline fixed at entry, a wait that ends at it
// or when the source has something, whatever the source holds, then the same
// deadline again; at the deadline, what the source still owes. A timeout of 0
// or less reads nothing.
void listenOn(DatagramSource& source, std::int32_t timeOutMs, const DatagramHandler& onDatagram);

}  // namespace net
