// One thread for the kernel's slow work that no test needs to wait for: a
// packet socket waits out a grace period (tens of milliseconds) to set up its
// ring and again to close. Jobs run one after another, in the order handed
// over, on a thread the first job starts and that lives as long as the
// process. POSIX only.
#pragma once

#include <functional>

namespace net {

// False when no thread could be started or the job not stored; the caller
// then does the work itself. A job must not throw.
bool runInBackground(std::function<void()> job) noexcept;

}  // namespace net
