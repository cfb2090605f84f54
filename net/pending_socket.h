#pragma once

#include "net/platform.h"

namespace net {

// Owns a socket while it is being set up and closes it if a later step
// throws; release() hands it over once it is ready.
class PendingSocket {
 public:
  explicit PendingSocket(NativeSocket opened) : handle_(opened) {}
  ~PendingSocket() {
    if (handle_ != kInvalidSocket) os::closeSocket(handle_);
  }
  PendingSocket(const PendingSocket&) = delete;
  PendingSocket& operator=(const PendingSocket&) = delete;
  PendingSocket(PendingSocket&&) = delete;
  PendingSocket& operator=(PendingSocket&&) = delete;

  NativeSocket get() const { return handle_; }
  NativeSocket release() {
    const NativeSocket kept = handle_;
    handle_ = kInvalidSocket;
    return kept;
  }

 private:
  NativeSocket handle_;
};

}  // namespace net
