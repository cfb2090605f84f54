// Prints the sample pass as the tool would, for the schema check.
#include <iostream>

#include "app/pass_json.h"
#include "tests/unit/pass_sample.h"

int main() {
  const PassTiming timing{std::chrono::system_clock::now(), 1234};
  std::cout << passJson(timing, testing_support::samplePass()) << '\n';
  PassFindings empty;
  for (std::size_t i = 0; i < empty.tests.size(); ++i) {
    empty.tests[i].number = static_cast<int>(i + 1);
  }
  // A pass whose output vanished before its tests ran still has a shape.
  empty.tests[0].details = BeaconDetails{"233.4.200.19", 10002, std::nullopt, {}};
  empty.tests[1].details = BeaconDetails{"232.64.133.120", 8020, "198.51.100.20", {}};
  for (const std::size_t i : {2U, 3U, 6U}) empty.tests[i].details = PingDetails{"224.0.0.2", {}};
  empty.tests[4].details = IgmpDetails{};
  empty.tests[5].details = IgmpDetails{};
  empty.tests[7].details = PimDetails{};
  std::cout << passJson(timing, empty) << '\n';
  return 0;
}
