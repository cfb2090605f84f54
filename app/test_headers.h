// What each test's header says as it begins: the text prints it, the JSON
// carries it. Neither output owns it.
#pragma once

#include <string>

#include "app/findings.h"

// A test's header line without its leading tab and line end, e.g.
// "3.  Checking presence of multicast capable router in the neighborhood ".
std::string testHeader(const TestRecord& record, net::Family family = net::Family::V4);
