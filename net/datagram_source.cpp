#include "net/datagram_source.h"

#include "net/socket.h"

namespace net {

void listenOn(DatagramSource& source, std::int32_t timeOutMs, const DatagramHandler& onDatagram) {
  if (timeOutMs <= 0) return;
  Deadline deadline(timeOutMs);
  for (;;) {
    if (!source.holdsDatagram(deadline.end())) {
      const int ready = deadline.waitReadable(source.waitHandle());
      if (ready == -1) throwSocketError("select");
      if (ready == 0) break;
    }
    if (source.readNow(onDatagram, deadline.end()) == AfterDatagram::StopListening) return;
  }
  source.readOwed(onDatagram, deadline.end());
}

}  // namespace net
