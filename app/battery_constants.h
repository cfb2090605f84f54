// The fixed timing of the battery, in milliseconds (the beacons are options;
// the routers' groups are net/address.h's).
#pragma once

#include <cstdint>

namespace battery {

inline constexpr std::int32_t kBeaconListeningMs = 2000;
inline constexpr std::int32_t kEchoReplyWaitMs = 2000;
inline constexpr std::int32_t kQueryListeningMs = 1000;
inline constexpr std::int32_t kPimListeningMs = 5000;
inline constexpr std::uint32_t kPauseBeforeSsmReceiverMs = 2000;
inline constexpr std::uint32_t kPauseBetweenJoinAndLeaveMs = 2000;
inline constexpr std::uint32_t kPauseBeforeSourceMembershipMs = 5000;
inline constexpr std::uint32_t kPauseBetweenSourceReportsMs = 2000;

}  // namespace battery
