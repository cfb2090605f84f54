#include <iostream>
#include <span>
#include <variant>

#include "app/battery.h"
#include "app/options.h"
#include "app/pass_setup.h"
#include "app/run.h"

namespace {

int exitEarly(const options::EarlyExit& early) {
  std::cout << early.standardOutput;
  std::cerr << early.standardError;
  return early.status;
}

}  // namespace

int main(int argc, char* argv[]) {
  const auto parsed = options::parseCommandLine(
      std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
  if (const auto* early = std::get_if<options::EarlyExit>(&parsed)) return exitEarly(*early);
  // get_if, not get: neither can be empty here, and main throws nothing.
  const auto* run = std::get_if<options::RunOptions>(&parsed);
  const auto chosen = interfaceFromOptions(*run);
  if (const auto* early = std::get_if<options::EarlyExit>(&chosen)) return exitEarly(*early);
  const auto* byOption = std::get_if<std::optional<net::LinkInterface>>(&chosen);
  // Each line shows as soon as it is written, also through a pipe: the
  // battery pauses for seconds between lines.
  std::cout << std::unitbuf;
  return runDiagnostics(std::cin, std::cout, [&](std::ostream& out, PassFindings& findings) {
    // The interface is found once per pass, before its first test.
    runPass(out, preparePass(*run, *byOption), findings);
  });
}
