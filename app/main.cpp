#include <iostream>

#include "app/battery.h"
#include "app/run.h"

int main() {
  // Each line shows as soon as it is written, also through a pipe: the
  // battery pauses for seconds between lines.
  std::cout << std::unitbuf;
  return runDiagnostics(std::cin, std::cout, runPass);
}
