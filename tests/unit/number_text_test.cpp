#include "app/number_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

std::string written(double value) {
  std::string out;
  appendShortestNumber(out, value);
  return out;
}

// The forms the metrics have always had: the shortest digits that read back,
// fixed or scientific by length, fixed on a tie, and no trailing zeros.
TEST(NumberText, WritesTheShortestTextThatReadsBack) {
  EXPECT_EQ(written(0.0), "0");
  EXPECT_EQ(written(-0.0), "-0");
  EXPECT_EQ(written(20.0), "20");
  EXPECT_EQ(written(100000.0), "1e+05");
  EXPECT_EQ(written(123456.0), "123456");
  EXPECT_EQ(written(1e6), "1e+06");
  EXPECT_EQ(written(1200.0), "1200");
  EXPECT_EQ(written(0.001), "0.001");
  EXPECT_EQ(written(0.000413), "0.000413");
  EXPECT_EQ(written(1e-05), "1e-05");
  EXPECT_EQ(written(22.014), "22.014");
  EXPECT_EQ(written(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(written(1796756366.505), "1796756366.505");
  EXPECT_EQ(written(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
  EXPECT_EQ(written(-std::numeric_limits<double>::min()), "-2.2250738585072014e-308");
  EXPECT_EQ(written(std::numeric_limits<double>::denorm_min()), "5e-324");
}

TEST(NumberText, NotANumberAndTheInfinitiesAreSpelledAsTheMetricsTextReadsThem) {
  EXPECT_EQ(written(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(written(-std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(written(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(written(-std::numeric_limits<double>::infinity()), "-Inf");
}

TEST(NumberText, AppendsToWhatIsThere) {
  std::string out = "corvanite_pass_duration_seconds ";
  appendShortestNumber(out, 2.5);
  appendShortestNumber(out, std::numeric_limits<double>::infinity());
  EXPECT_EQ(out, "corvanite_pass_duration_seconds 2.5+Inf");
}

}  // namespace
