#include "net/privilege.h"

#include <sys/capability.h>

#include <cerrno>
#include <memory>

namespace net {

namespace {

struct CapFree {
  void operator()(cap_t caps) const noexcept { ::cap_free(caps); }
};
using Caps = std::unique_ptr<std::remove_pointer_t<cap_t>, CapFree>;

// A failure here leaves the sets as they were: the socket calls then fail or
// succeed as the kernel decides, and say so themselves.
bool setNetRaw(cap_flag_t set, cap_flag_value_t value) {
  const Caps caps(::cap_get_proc());
  if (!caps) return false;
  const cap_value_t netRaw[] = {CAP_NET_RAW};
  return ::cap_set_flag(caps.get(), set, 1, netRaw, value) == 0 && ::cap_set_proc(caps.get()) == 0;
}

bool netRawIn(cap_flag_t set) {
  const Caps caps(::cap_get_proc());
  cap_flag_value_t value = CAP_CLEAR;
  return caps && ::cap_get_flag(caps.get(), CAP_NET_RAW, set, &value) == 0 && value == CAP_SET;
}

}  // namespace

void limitPrivilege() {
  const Caps caps(::cap_get_proc());
  if (!caps) return;
  // Everything stays permitted as it was (root keeps what it owns by its
  // uid); nothing acts until raised.
  if (::cap_clear_flag(caps.get(), CAP_EFFECTIVE) == 0) ::cap_set_proc(caps.get());
}

RaisedPrivilege::RaisedPrivilege() {
  const int saved = errno;
  // Already in effect (an outer guard, or a caller that never limited its
  // rights): this guard leaves it as it found it.
  raised_ =
      !netRawIn(CAP_EFFECTIVE) && netRawIn(CAP_PERMITTED) && setNetRaw(CAP_EFFECTIVE, CAP_SET);
  errno = saved;
}

RaisedPrivilege::~RaisedPrivilege() {
  if (!raised_) return;
  const int saved = errno;
  setNetRaw(CAP_EFFECTIVE, CAP_CLEAR);
  errno = saved;
}

}  // namespace net
