#include "probes/message_checksum.h"

#include "net/packet/checksum.h"
#include "net/packet/ip_datagram.h"

bool messageChecksumHolds(std::span<const std::uint8_t> datagram) {
  const auto ip = net::parseDatagram(datagram);
  if (!ip) return false;
  // Summed with its checksum field, a whole message sums to all ones, whose
  // complement is 0.
  if (ip->family == net::Family::V4) return net::internetChecksum(ip->payload) == 0;
  return net::internetChecksum(ip->payload,
                               net::PseudoHeader{ip->source, ip->destination, ip->protocol}) == 0;
}
