#include "net/address.h"

#include <array>
#include <cstring>

namespace net {

std::uint32_t addressFromText(const std::string& text) {
  return static_cast<std::uint32_t>(::inet_addr(text.c_str()));
}

std::string addressText(const in_addr& address) {
  std::array<char, INET_ADDRSTRLEN> text{};
  ::inet_ntop(AF_INET, &address, text.data(), text.size());
  return text.data();
}

sockaddr_in socketAddress(const std::string& text) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = addressFromText(text);
  return address;
}

}  // namespace net
