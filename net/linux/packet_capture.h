// A plain packet socket on one interface that queues, one datagram a read,
// what its classic BPF program keeps of the inbound IPv4 or IPv6 traffic,
// multicast to any group included. For captures of few datagrams a second,
// which need no ring, and for programs no expression can say.
#pragma once

#include <linux/filter.h>

#include <vector>

#include "net/address.h"
#include "net/interfaces.h"
#include "net/unique_socket.h"

namespace net {

// The interface that holds `own`, the address a capture's socket is bound to.
// Throws CV_SocketException(kCaptureOperation): EADDRNOTAVAIL when none does,
// since only a socket bound to one interface's own address can be captured for.
HostInterface captureInterfaceOf(const Address& own);

// Datagrams start with their IP header; `program` sees them so. Throws
// CV_SocketException(kCaptureOperation).
UniqueSocket openPacketCapture(unsigned int interfaceIndex, Family family,
                               std::vector<sock_filter> program);

}  // namespace net
