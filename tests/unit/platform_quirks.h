// Which platform runs the tests, so that a test can report itself skipped
// where the platform, not the tool, cannot do what it checks.
#pragma once

namespace testing_support {

// True under Wine, whose socket layer differs from Windows' in places:
// every loopback UDP sender arrives as 127.0.0.1, and a source membership
// record reaches Linux in Winsock's field order.
bool runningUnderWine();

}  // namespace testing_support
