// Times the outputs write to the microsecond.
#pragma once

#include <cstdint>

// A time in milliseconds as whole microseconds, halves away from zero as
// std::round rounds. Not std::round itself: it would be the tool's only
// call into libm, which would then be loaded for it (330 kB of resident
// memory, and one library more to look every symbol up in).
constexpr std::int64_t wholeMicroseconds(double milliseconds) {
  const double us = milliseconds * 1000.0;
  // Exact while |us| < 2^52, far beyond any time a pass measures.
  const auto whole = static_cast<std::int64_t>(us);
  const double fraction = us - static_cast<double>(whole);
  return whole + (fraction >= 0.5 ? 1 : 0) - (fraction <= -0.5 ? 1 : 0);
}
