// Windows captures are sockets of the probes' own (raw_socket_win32.cpp):
// nothing to keep between them.
#include "net/link_captures.h"

namespace net {

struct LinkCaptures::Rings {};

LinkCaptures::LinkCaptures() : rings_(std::make_shared<Rings>()) {}

LinkCaptures::~LinkCaptures() = default;

void LinkCaptures::prepare(const LinkInterface& /*link*/) {}

}  // namespace net
