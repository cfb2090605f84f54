// The fixed parameters of the battery (the beacons are options). Addresses
// are dotted-quad texts, times are milliseconds.
#pragma once

#include <cstdint>

namespace battery {

inline constexpr const char* kAllRoutersGroup = "224.0.0.2";
inline constexpr const char* kIgmpV3RoutersGroup = "224.0.0.22";
inline constexpr const char* kAllPimRoutersGroup = "224.0.0.13";

inline constexpr std::int32_t kBeaconListeningMs = 2000;
inline constexpr std::int32_t kEchoReplyWaitMs = 2000;
inline constexpr std::int32_t kQueryListeningMs = 1000;
inline constexpr std::int32_t kPimListeningMs = 5000;
inline constexpr std::uint32_t kPauseBeforeSsmReceiverMs = 2000;
inline constexpr std::uint32_t kPauseBetweenV2ReportAndLeaveMs = 2000;
inline constexpr std::uint32_t kPauseBeforeIgmpV3TestMs = 5000;
inline constexpr std::uint32_t kPauseBetweenV3ReportsMs = 2000;

}  // namespace battery
