#include "net/platform.h"
#include "tests/unit/platform_quirks.h"

namespace testing_support {

// Only Wine's ntdll exports its version.
bool runningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace testing_support
