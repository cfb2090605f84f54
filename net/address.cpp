#include "net/address.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

namespace net {

namespace {

// A whole decimal number of at most three digits up to 255, without a leading zero.
std::optional<std::uint8_t> decimalOctet(std::string_view text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  // A leading zero reads as octal in some parsers: refuse it rather than guess.
  if (text.size() > 1 && text.front() == '0') return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

std::optional<std::array<std::uint8_t, 4>> dottedQuad(std::string_view text) {
  std::array<std::uint8_t, 4> parts{};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const auto point = text.find('.');
    const bool last = i + 1 == parts.size();
    if (last != (point == std::string_view::npos)) return std::nullopt;
    const auto part = decimalOctet(text.substr(0, point));
    if (!part) return std::nullopt;
    parts[i] = *part;
    if (!last) text.remove_prefix(point + 1);
  }
  return parts;
}

// One to four hexadecimal digits.
std::optional<std::uint16_t> hexGroup(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// The 16-bit groups of one side of "::", an IPv4 tail allowed at the end of
// the last side; nothing when a group is malformed.
std::optional<std::vector<std::uint16_t>> groupsOf(std::string_view text, bool mayEndInIpv4) {
  std::vector<std::uint16_t> groups;
  if (text.empty()) return groups;
  for (;;) {
    const auto colon = text.find(':');
    const std::string_view part = text.substr(0, colon);
    if (colon == std::string_view::npos && mayEndInIpv4 && part.find('.') != part.npos) {
      const auto quad = dottedQuad(part);
      if (!quad) return std::nullopt;
      groups.push_back(static_cast<std::uint16_t>((*quad)[0] << 8U | (*quad)[1]));
      groups.push_back(static_cast<std::uint16_t>((*quad)[2] << 8U | (*quad)[3]));
      return groups;
    }
    const auto group = hexGroup(part);
    if (!group || groups.size() == 8) return std::nullopt;
    groups.push_back(*group);
    if (colon == std::string_view::npos) return groups;
    text.remove_prefix(colon + 1);
  }
}

}  // namespace

Address Address::v6(const std::array<std::uint8_t, 16>& bytes, std::uint32_t scopeId) {
  Address address;
  address.family_ = Family::V6;
  address.bytes_ = bytes;
  address.scopeId_ = scopeId;
  return address;
}

std::optional<Address> Address::fromBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() == 4) {
    return v4(static_cast<std::uint32_t>(bytes[0]) << 24U |
              static_cast<std::uint32_t>(bytes[1]) << 16U |
              static_cast<std::uint32_t>(bytes[2]) << 8U | bytes[3]);
  }
  if (bytes.size() == 16) {
    std::array<std::uint8_t, 16> copied{};
    std::copy(bytes.begin(), bytes.end(), copied.begin());
    return v6(copied);
  }
  return std::nullopt;
}

std::optional<Address> Address::parseV4(std::string_view text) {
  const auto quad = dottedQuad(text);
  if (!quad) return std::nullopt;
  return fromBytes(*quad);
}

std::optional<Address> Address::parseV6(std::string_view text) {
  const auto gap = text.find("::");
  std::vector<std::uint16_t> groups;
  if (gap == std::string_view::npos) {
    auto all = groupsOf(text, true);
    if (!all || all->size() != 8) return std::nullopt;
    groups = *all;
  } else {
    const auto head = groupsOf(text.substr(0, gap), false);
    const auto tail = groupsOf(text.substr(gap + 2), true);
    // A second "::" leaves a stray colon on one side, which no group accepts.
    if (!head || !tail || head->size() + tail->size() > 7) return std::nullopt;
    groups = *head;
    groups.resize(8 - tail->size(), 0);
    groups.insert(groups.end(), tail->begin(), tail->end());
  }
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8U);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFFU);
  }
  return v6(bytes);
}

std::optional<Address> Address::parse(std::string_view text) {
  if (text.find(':') == std::string_view::npos) return parseV4(text);
  const auto percent = text.find('%');
  if (percent == std::string_view::npos) return parseV6(text);
  // Only a number names the zone here: a name needs the host's interfaces.
  const std::string_view zone = text.substr(percent + 1);
  std::uint32_t scopeId = 0;
  const auto [end, error] = std::from_chars(zone.data(), zone.data() + zone.size(), scopeId);
  if (zone.empty() || error != std::errc{} || end != zone.data() + zone.size()) {
    return std::nullopt;
  }
  const auto address = parseV6(text.substr(0, percent));
  if (!address) return std::nullopt;
  return address->withScope(scopeId);
}

bool Address::isUnspecified() const {
  const auto used = bytes();
  return std::all_of(used.begin(), used.end(), [](std::uint8_t b) { return b == 0; });
}

bool Address::isMulticast() const {
  return isV4() ? (bytes_[0] & 0xF0U) == 0xE0U : bytes_[0] == 0xFFU;
}

bool Address::isLinkLocal() const {
  return isV4() ? bytes_[0] == 169 && bytes_[1] == 254
                : bytes_[0] == 0xFE && (bytes_[1] & 0xC0U) == 0x80;
}

bool Address::isV4Mapped() const {
  constexpr std::array<std::uint8_t, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return !isV4() && std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes_.begin());
}

std::string Address::toString() const {
  std::array<char, 48> text{};
  if (isV4()) {
    std::snprintf(text.data(), text.size(), "%u.%u.%u.%u", bytes_[0], bytes_[1], bytes_[2],
                  bytes_[3]);
    return text.data();
  }
  // RFC 5952 5: an IPv4-mapped address ends in its dotted quad.
  if (isV4Mapped()) {
    std::snprintf(text.data(), text.size(), "::ffff:%u.%u.%u.%u", bytes_[12], bytes_[13],
                  bytes_[14], bytes_[15]);
    return text.data();
  }
  std::array<std::uint16_t, 8> groups{};
  for (std::size_t i = 0; i < groups.size(); ++i) {
    groups[i] = static_cast<std::uint16_t>(bytes_[2 * i] << 8U | bytes_[2 * i + 1]);
  }
  // RFC 5952 4.2: the longest run of two or more zero groups, the first of
  // equal runs, becomes "::".
  std::size_t bestStart = groups.size();
  std::size_t bestLength = 1;
  for (std::size_t i = 0; i < groups.size();) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < groups.size() && groups[end] == 0) ++end;
    if (end - i > bestLength) {
      bestStart = i;
      bestLength = end - i;
    }
    i = end;
  }
  std::string result;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (i == bestStart) {
      result += "::";
      i += bestLength - 1;
      continue;
    }
    if (!result.empty() && result.back() != ':') result += ':';
    std::snprintf(text.data(), text.size(), "%x", groups[i]);
    result += text.data();
  }
  return result;
}

std::optional<Prefix> Prefix::of(const Address& address, int length) {
  const auto bytes = address.bytes();
  if (length < 0 || static_cast<std::size_t>(length) > 8 * bytes.size()) return std::nullopt;
  std::array<std::uint8_t, 16> kept{};
  const auto bits = static_cast<std::size_t>(length);
  for (std::size_t i = 0; i < bytes.size() && 8 * i < bits; ++i) {
    const std::size_t left = bits - 8 * i;
    const auto mask = left >= 8 ? 0xFFU : 0xFFU << (8 - left);
    kept[i] = static_cast<std::uint8_t>(bytes[i] & mask);
  }
  Prefix prefix;
  prefix.address_ = *Address::fromBytes(std::span(kept).first(bytes.size()));
  prefix.length_ = length;
  return prefix;
}

std::optional<Prefix> Prefix::parse(std::string_view text) {
  const auto slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view digits = text.substr(slash + 1);
  if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits.front() == '0')) {
    return std::nullopt;
  }
  int length = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
  if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  const auto address = text.find(':') == std::string_view::npos
                           ? Address::parseV4(text.substr(0, slash))
                           : Address::parseV6(text.substr(0, slash));
  if (!address) return std::nullopt;
  return of(*address, length);
}

bool Prefix::contains(const Address& address) const {
  if (address.family() != address_.family()) return false;
  return of(address, length_)->address_ == address_;
}

std::string Prefix::toString() const { return address_.toString() + "/" + std::to_string(length_); }

Address anyAddress(Family family) {
  return family == Family::V4 ? Address{} : Address::v6(std::array<std::uint8_t, 16>{});
}

namespace {

Address linkLocalGroup(std::uint8_t last) {
  std::array<std::uint8_t, 16> bytes{};
  bytes[0] = 0xFF;
  bytes[1] = 0x02;
  bytes[15] = last;
  return Address::v6(bytes);
}

}  // namespace

Address allRoutersGroup(Family family) {
  return family == Family::V4 ? kAllRoutersGroup : linkLocalGroup(0x02);
}

Address membershipRoutersGroup(Family family) {
  return family == Family::V4 ? kIgmpV3RoutersGroup : linkLocalGroup(0x16);
}

Address allHostsGroup(Family family) {
  return family == Family::V4 ? Address::v4(0xE0000001U) : linkLocalGroup(0x01);
}

Address allPimRoutersGroup(Family family) {
  return family == Family::V4 ? kAllPimRoutersGroup : linkLocalGroup(0x0D);
}

}  // namespace net
