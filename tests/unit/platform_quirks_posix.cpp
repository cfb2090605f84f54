#include "tests/unit/platform_quirks.h"

namespace testing_support {

bool runningUnderWine() { return false; }

}  // namespace testing_support
