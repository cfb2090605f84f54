// Addresses of either family, as a value: parsed from text once, at the edge,
// carried as they are, and turned into the platform's socket addresses only
// inside net/.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace net {

enum class Family { V4, V6 };

class Address {
 public:
  // 0.0.0.0
  constexpr Address() = default;

  // From an IPv4 address as a number in host byte order (0xE0000002 is 224.0.0.2).
  static constexpr Address v4(std::uint32_t hostOrder) {
    Address address;
    address.bytes_ = {
        static_cast<std::uint8_t>(hostOrder >> 24U), static_cast<std::uint8_t>(hostOrder >> 16U),
        static_cast<std::uint8_t>(hostOrder >> 8U), static_cast<std::uint8_t>(hostOrder)};
    return address;
  }
  // From the 16 bytes of an IPv6 address in network order; a link-local one
  // may name the interface it belongs to.
  static Address v6(const std::array<std::uint8_t, 16>& bytes, std::uint32_t scopeId = 0);
  // From 4 bytes (IPv4) or 16 (IPv6) in network order; nothing for any other length.
  static std::optional<Address> fromBytes(std::span<const std::uint8_t> bytes);

  // Four decimal numbers of 0 to 255 joined by points, without leading zeros,
  // signs or blanks; nothing for any other text.
  static std::optional<Address> parseV4(std::string_view text);
  // An IPv6 address in any of the text forms of RFC 4291 2.2, without a zone.
  static std::optional<Address> parseV6(std::string_view text);
  // Either of the above, or an IPv6 address with a numeric zone ("fe80::1%2"),
  // which becomes its scope id: what a user may type for any address.
  static std::optional<Address> parse(std::string_view text);

  [[nodiscard]] constexpr Family family() const { return family_; }
  [[nodiscard]] constexpr bool isV4() const { return family_ == Family::V4; }
  // The address in network order: 4 bytes or 16.
  [[nodiscard]] std::span<const std::uint8_t> bytes() const {
    return std::span<const std::uint8_t>(bytes_).first(isV4() ? 4U : 16U);
  }
  [[nodiscard]] std::uint32_t scopeId() const { return scopeId_; }
  // The same IPv6 address in the zone of the interface with `scopeId`.
  [[nodiscard]] Address withScope(std::uint32_t scopeId) const {
    Address scoped = *this;
    scoped.scopeId_ = scopeId;
    return scoped;
  }

  [[nodiscard]] bool isUnspecified() const;
  [[nodiscard]] bool isMulticast() const;
  // 169.254.0.0/16 (RFC 3927) or fe80::/10 (RFC 4291 2.5.6).
  [[nodiscard]] bool isLinkLocal() const;
  // ::ffff:0:0/96 (RFC 4291 2.5.5.2): an IPv6 address that stands for an IPv4 one.
  [[nodiscard]] bool isV4Mapped() const;

  // Dotted-quad for IPv4 (no leading zeros), RFC 5952 for IPv6.
  [[nodiscard]] std::string toString() const;

  friend constexpr bool operator==(const Address&, const Address&) = default;
  // clang-tidy reads the 0 of the synthesized comparison as a null pointer.
  friend constexpr auto operator<=>(const Address&,
                                    const Address&) = default;  // NOLINT(modernize-use-nullptr)

 private:
  Family family_ = Family::V4;
  std::array<std::uint8_t, 16> bytes_{};
  std::uint32_t scopeId_ = 0;
};

// An address block: the first `length` bits of an address of either family.
// The bits past the length are cleared and the zone dropped, so equal blocks
// compare equal whatever address they were made from.
class Prefix {
 public:
  // 0.0.0.0/0
  constexpr Prefix() = default;
  // Nothing when `length` is negative or longer than the family's address.
  static std::optional<Prefix> of(const Address& address, int length);
  // ADDRESS/LENGTH, the length in decimal without sign or leading zero.
  static std::optional<Prefix> parse(std::string_view text);

  [[nodiscard]] const Address& address() const { return address_; }
  [[nodiscard]] int length() const { return length_; }
  // Whether `address` is of the block's family and starts with its bits.
  [[nodiscard]] bool contains(const Address& address) const;
  // ADDRESS/LENGTH, the address as Address::toString writes it.
  [[nodiscard]] std::string toString() const;

  friend bool operator==(const Prefix&, const Prefix&) = default;

 private:
  Address address_;
  int length_ = 0;
};

// For tables keyed by address: FNV-1a over the family, bytes and zone.
struct AddressHash {
  std::size_t operator()(const Address& address) const noexcept {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    const auto mix = [&hash](std::uint8_t byte) { hash = (hash ^ byte) * 0x100000001B3ULL; };
    mix(address.isV4() ? 4 : 6);
    for (const std::uint8_t byte : address.bytes()) mix(byte);
    for (unsigned int shift = 0; shift < 32; shift += 8) {
      mix(static_cast<std::uint8_t>(address.scopeId() >> shift));
    }
    return static_cast<std::size_t>(hash);
  }
};

// An address and a port (0 where none applies, as on raw sockets).
struct Endpoint {
  Address address;
  std::uint16_t port = 0;

  friend constexpr bool operator==(const Endpoint&, const Endpoint&) = default;
};

// The wildcard address of a family: 0.0.0.0 or ::.
Address anyAddress(Family family);

// The link-local groups the IPv4 battery speaks to: all routers (RFC 1112),
// IGMPv3-capable routers (RFC 3376) and PIM routers (RFC 7761).
inline constexpr Address kAllRoutersGroup = Address::v4(0xE0000002U);     // 224.0.0.2
inline constexpr Address kIgmpV3RoutersGroup = Address::v4(0xE0000016U);  // 224.0.0.22
inline constexpr Address kAllPimRoutersGroup = Address::v4(0xE000000DU);  // 224.0.0.13

// The same groups in `family`: IPv6's are ff02::2, ff02::16 (MLDv2-capable
// routers, RFC 3810) and ff02::d.
Address allRoutersGroup(Family family);
Address membershipRoutersGroup(Family family);
Address allPimRoutersGroup(Family family);
// Every host of the link: 224.0.0.1 or ff02::1, where general queries go.
Address allHostsGroup(Family family);

}  // namespace net
