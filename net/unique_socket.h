#pragma once

#include <utility>

#include "net/platform.h"

namespace net {

// The one owner of a native socket handle. Move-only; the destructor closes
// the handle and never throws, so no error path closes a socket by hand.
class UniqueSocket {
 public:
  // A packet socket on Linux takes up to tens of milliseconds to close (an
  // RCU grace period in the kernel); no test needs to wait for that.
  enum class Closing { AtOnce, InBackground };

  UniqueSocket() noexcept = default;
  explicit UniqueSocket(NativeSocket handle, Closing closing = Closing::AtOnce) noexcept
      : handle_(handle), closing_(closing) {}
  ~UniqueSocket() { reset(); }

  UniqueSocket(UniqueSocket&& other) noexcept
      : handle_(std::exchange(other.handle_, kInvalidSocket)), closing_(other.closing_) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, kInvalidSocket);
      closing_ = other.closing_;
    }
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  [[nodiscard]] NativeSocket get() const noexcept { return handle_; }
  [[nodiscard]] bool valid() const noexcept { return handle_ != kInvalidSocket; }

  // Closes the handle now, if there is one; defined once per platform.
  void reset() noexcept;

 private:
  NativeSocket handle_ = kInvalidSocket;
  Closing closing_ = Closing::AtOnce;
};

}  // namespace net
