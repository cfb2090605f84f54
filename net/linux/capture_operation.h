// The operation a failed capture set-up is reported as on Linux: the name of
// the Windows call that puts a raw socket into receive-all, so that a report
// reads the same whichever platform's capture failed.
#pragma once

namespace net::linux_capture {

inline constexpr const char* kCaptureOperation = "WSAIoctl";

}  // namespace net::linux_capture
