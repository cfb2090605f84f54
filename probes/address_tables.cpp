#include "probes/address_tables.h"

#include "net/address.h"

void countSender(AddressCounts& counts, const sockaddr_in& sender) {
  ++counts[net::addressText(sender.sin_addr)];
}

std::string AddressSet::text() const {
  std::string joined;
  for (const std::string& address : addresses_) {
    joined += address;
    joined += ", ";
  }
  return joined;
}
