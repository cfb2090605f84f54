#include "app/number_text.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string written(double value) {
  std::string out;
  appendShortestNumber(out, value);
  return out;
}

// What the metrics text wrote before, with the C++ library's formatter.
std::string byLibrary(double value) {
  std::array<char, 64> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  return {text.data(), result.ptr};
}

// Every kind of number a pass writes (counts, milliseconds and microseconds
// as seconds, a wall-clock time to the millisecond), and doubles of every
// size besides, come out as the library's formatter writes them.
TEST(NumberText, WritesWhatTheLibrarysShortestFormatterWrites) {
  std::vector<double> values{0.0,
                             -0.0,
                             1.0,
                             20.0,
                             100.0,
                             1200.0,
                             100000.0,
                             1e6,
                             1e16,
                             123456.0,
                             0.001,
                             0.0005,
                             0.000413,
                             1e-05,
                             22.014,
                             1024.0,
                             0.1 + 0.2,
                             1796756366.505,
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::denorm_min()};
  std::mt19937_64 random(33);
  std::uniform_int_distribution<std::uint64_t> counts(0, 10'000'000);
  std::uniform_int_distribution<std::uint64_t> wallMs(1'700'000'000'000ULL, 2'100'000'000'000ULL);
  for (int i = 0; i < 20'000; ++i) {
    const std::uint64_t count = counts(random);
    values.push_back(static_cast<double>(count));
    values.push_back(static_cast<double>(count) / 1000.0);
    values.push_back(static_cast<double>(count) / 1e6);
    values.push_back(static_cast<double>(wallMs(random)) / 1000.0);
    // Any bit pattern that is a finite double, negative ones included.
    const auto any = std::bit_cast<double>(random());
    if (std::isfinite(any)) values.push_back(any);
  }
  for (int power = -30; power <= 30; ++power) {
    values.push_back(std::ldexp(1.0, power * 10));
    values.push_back(std::pow(10.0, power));
  }
  for (const double value : values) EXPECT_EQ(written(value), byLibrary(value)) << value;
}

TEST(NumberText, NotANumberAndTheInfinitiesAreSpelledAsTheMetricsTextReadsThem) {
  EXPECT_EQ(written(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(written(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(written(-std::numeric_limits<double>::infinity()), "-Inf");
}

}  // namespace
