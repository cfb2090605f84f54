#include "net/held_groups.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <sstream>
#include <vector>

namespace net {

namespace {

std::optional<std::uint32_t> hexWord(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::vector<std::string> wordsOf(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// "2\teth0      :     2      V3" heads a device's groups, each on a line
// of its own that starts with blanks: "\t\t\t\t010000E0     1 0:00000000\t\t0".
// The group is the kernel's 32-bit word printed as the host reads it.
bool listedV4(std::string_view list, const Address& group, const std::string& interfaceName) {
  std::istringstream in{std::string(list)};
  std::string line;
  std::string device;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.front() != '\t' && line.front() != ' ') {
      const auto colon = line.find(':');
      const auto words = wordsOf(line.substr(0, colon == std::string::npos ? 0 : colon));
      device = words.size() == 2 ? words[1] : std::string();
      continue;
    }
    if (!interfaceName.empty() && device != interfaceName) continue;
    const auto words = wordsOf(line);
    if (words.empty() || words[0].size() != 8) continue;
    const auto word = hexWord(words[0]);
    if (!word) continue;
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &*word, bytes.size());
    const auto listed = group.bytes();
    if (std::equal(listed.begin(), listed.end(), bytes.begin())) return true;
  }
  return false;
}

// "2    eth0            ff020000000000000000000000000001     1 00000004 0":
// index, device, group in network order, users, flags, timer.
bool listedV6(std::string_view list, const Address& group, const std::string& interfaceName) {
  std::istringstream in{std::string(list)};
  std::string line;
  while (std::getline(in, line)) {
    const auto words = wordsOf(line);
    if (words.size() < 3 || words[2].size() != 32) continue;
    if (!interfaceName.empty() && words[1] != interfaceName) continue;
    const auto listed = group.bytes();
    bool same = true;
    for (std::size_t i = 0; i < 16 && same; ++i) {
      const auto byte = hexWord(std::string_view(words[2]).substr(i * 2, 2));
      same = byte && *byte == listed[i];
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

bool groupListed(std::string_view membershipList, const Address& group,
                 const std::string& interfaceName) {
  return group.isV4() ? listedV4(membershipList, group, interfaceName)
                      : listedV6(membershipList, group, interfaceName);
}

}  // namespace net
