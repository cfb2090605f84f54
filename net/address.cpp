#include "net/address.h"

#include <array>
#include <cstring>

namespace net {

in_addr addressOf(std::uint32_t hostOrder) {
  in_addr address{};
  address.s_addr = htonl(hostOrder);
  return address;
}

std::optional<in_addr> parseAddress(const std::string& text) {
  in_addr address{};
  if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
  return address;
}

std::string addressText(const in_addr& address) {
  std::array<char, INET_ADDRSTRLEN> text{};
  ::inet_ntop(AF_INET, &address, text.data(), text.size());
  return text.data();
}

sockaddr_in socketAddress(const in_addr& address) {
  sockaddr_in result;
  std::memset(&result, 0, sizeof result);
  result.sin_family = AF_INET;
  result.sin_addr = address;
  return result;
}

}  // namespace net
