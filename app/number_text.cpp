#include "app/number_text.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// A decimal number, digits[0].digits[1...] times 10^exponent: 0.000313 is
// "313" and -4.
struct Decimal {
  std::string digits;
  int exponent = 0;

  [[nodiscard]] double value() const {
    std::string text =
        digits.substr(0, 1) + "." + digits.substr(1) + "e" + std::to_string(exponent);
    return std::strtod(text.c_str(), nullptr);
  }
};

// What "%.*e" writes of `magnitude` with `count` digits.
Decimal nearest(double magnitude, int count) {
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "%.*e", count - 1, magnitude);
  const std::string_view written(text.data());
  const std::size_t e = written.find('e');
  Decimal decimal;
  for (const char c : written.substr(0, e)) {
    if (c != '.') decimal.digits += c;
  }
  decimal.exponent = std::atoi(text.data() + e + 1);
  return decimal;
}

// The decimal of as many digits one unit in the last place above.
Decimal nextUp(Decimal decimal) {
  std::size_t at = decimal.digits.size();
  while (at > 0 && decimal.digits[at - 1] == '9') decimal.digits[--at] = '0';
  if (at > 0) {
    ++decimal.digits[at - 1];
  } else {
    decimal.digits.insert(decimal.digits.begin(), '1');
    decimal.digits.pop_back();
    ++decimal.exponent;
  }
  return decimal;
}

// The shortest digits that read back as `magnitude`, and of those the
// closest. C's formatting rounds correctly, so the nearest decimal of each
// length is the one to try; only at a power of two, where the doubles below
// lie closer than those above, may a decimal above read back when the
// nearest, below, does not.
Decimal shortestDecimal(double magnitude) {
  constexpr int kMostDigits = 17;
  // No significand bits: a power of two (or zero, which reads back at once).
  // Not std::frexp, which would load libm too.
  constexpr std::uint64_t kSignificand = (std::uint64_t{1} << 52U) - 1;
  const bool powerOfTwo = (std::bit_cast<std::uint64_t>(magnitude) & kSignificand) == 0;
  Decimal decimal;
  for (int count = 1; count <= kMostDigits; ++count) {
    decimal = nearest(magnitude, count);
    if (count == kMostDigits || decimal.value() == magnitude) break;
    if (powerOfTwo && decimal.value() < magnitude) {
      const Decimal above = nextUp(decimal);
      if (above.value() == magnitude) {
        decimal = above;
        break;
      }
    }
  }
  while (decimal.digits.size() > 1 && decimal.digits.back() == '0') decimal.digits.pop_back();
  return decimal;
}

std::string fixedText(const Decimal& decimal, double magnitude) {
  const auto length = static_cast<int>(decimal.digits.size());
  if (decimal.exponent < 0) {
    std::string text = "0.";
    text.append(static_cast<std::size_t>(-decimal.exponent - 1), '0');
    text += decimal.digits;
    return text;
  }
  if (length <= decimal.exponent + 1) {
    // A whole number in fixed notation is written exactly, as printf writes
    // it, not as the shortest digits padded with zeros: they differ above 2^53.
    std::array<char, 320> whole{};
    std::snprintf(whole.data(), whole.size(), "%.0f", magnitude);
    return whole.data();
  }
  std::string text = decimal.digits;
  text.insert(static_cast<std::size_t>(decimal.exponent) + 1, 1, '.');
  return text;
}

std::string scientificText(const Decimal& decimal) {
  std::string text = decimal.digits;
  if (text.size() > 1) text.insert(1, 1, '.');
  std::array<char, 16> exponent{};
  std::snprintf(exponent.data(), exponent.size(), "e%c%02d", decimal.exponent < 0 ? '-' : '+',
                std::abs(decimal.exponent));
  text += exponent.data();
  return text;
}

}  // namespace

void appendShortestNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "+Inf" : "-Inf";
    return;
  }
  if (std::signbit(value)) out += '-';
  const Decimal decimal = shortestDecimal(std::fabs(value));
  const std::string fixed = fixedText(decimal, std::fabs(value));
  const std::string scientific = scientificText(decimal);
  out += scientific.size() < fixed.size() ? scientific : fixed;
}
