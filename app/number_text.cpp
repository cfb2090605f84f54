#include "app/number_text.h"

#include <array>
#include <charconv>
#include <cmath>

void appendShortestNumber(std::string& out, double value) {
  // The metrics text's own spellings; std::to_chars writes nan and inf.
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "+Inf" : "-Inf";
    return;
  }
  // Room for the longest shortest form: -2.2250738585072014e-308.
  std::array<char, 32> text{};
  const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
  out.append(text.data(), written.ptr);
}
