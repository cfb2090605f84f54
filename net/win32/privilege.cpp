// Windows grants raw sockets by the account, not by a capability a process
// can put aside.
#include "net/privilege.h"

namespace net {

void limitPrivilege() {}

RaisedPrivilege::RaisedPrivilege() = default;

RaisedPrivilege::~RaisedPrivilege() = default;

}  // namespace net
