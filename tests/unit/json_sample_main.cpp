// Prints sample passes as the tool would, for the schema check.
#include <iostream>

#include "app/pass_json.h"
#include "tests/unit/pass_sample.h"

int main() {
  const PassTiming timing{std::chrono::system_clock::now(), 1234};
  std::cout << passJson(timing, reportBattery(testing_support::samplePass())) << '\n';
  // A pass that heard nothing, on a link that could not be found, still has a shape.
  std::cout << passJson(timing, reportBattery(testing_support::passThatFoundNothing())) << '\n';
  return 0;
}
