#pragma once

#include <cstddef>

// The most of any one kind a probe keeps from one test: queries, Hello
// senders, RP advertisers. A flood of forged sources must neither grow the
// record without bound nor turn the report into megabytes.
inline constexpr std::size_t kMaxKeptPerTest = 256;
