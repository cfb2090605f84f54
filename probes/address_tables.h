// Tables of the hosts a probe heard, keyed by dotted-quad address text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "net/platform.h"

// Sender address text -> datagrams counted from it. Strings order the keys.
using AddressCounts = std::map<std::string, std::int32_t>;

void countSender(AddressCounts& counts, const sockaddr_in& sender);

// Distinct address texts in byte-wise order (so 10.1.1.1 before 9.1.1.1).
// Holds at most kMaxAddresses: PIM Hellos from a flood of forged sources must
// neither grow the table without bound nor turn the report into megabytes.
class AddressSet {
 public:
  static constexpr std::size_t kMaxAddresses = 256;
  void add(const std::string& address) {
    if (addresses_.size() < kMaxAddresses) addresses_.insert(address);
  }
  bool empty() const { return addresses_.empty(); }
  bool contains(const std::string& address) const { return addresses_.count(address) > 0; }
  std::size_t size() const { return addresses_.size(); }
  // Every address followed by ", ", the last one included; "" when empty.
  std::string text() const;

 private:
  std::set<std::string> addresses_;
};
