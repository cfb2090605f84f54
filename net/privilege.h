// The right to open raw sockets and captures, held the way ping holds it: a
// program given CAP_NET_RAW keeps it permitted but not effective, raises it
// only around the calls that need it.
// While a pass parses what others sent, or the tool waits at the prompt, no
// capability is in effect. Where the platform has no such rights (Windows)
// all of this does nothing.
#pragma once

namespace net {

// First thing in the process, before any thread starts (threads keep the
// sets they began with): no capability stays effective. Without capabilities
// it changes nothing.
void limitPrivilege();

// CAP_NET_RAW in effect for the guard's life, when it is permitted at all;
// the platform's error number of the call inside survives the guard's end.
// A right that was already in effect stays so after it.
class RaisedPrivilege {
 public:
  RaisedPrivilege();
  ~RaisedPrivilege();
  RaisedPrivilege(const RaisedPrivilege&) = delete;
  RaisedPrivilege& operator=(const RaisedPrivilege&) = delete;
  RaisedPrivilege(RaisedPrivilege&&) = delete;
  RaisedPrivilege& operator=(RaisedPrivilege&&) = delete;

 private:
  bool raised_ = false;
};

}  // namespace net
