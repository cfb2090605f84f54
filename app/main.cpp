#include <exception>
#include <iostream>
#include <span>
#include <variant>

#include "app/battery.h"
#include "app/options.h"
#include "app/run.h"
#include "net/platform.h"

namespace {

int run(int argc, char* argv[]) {
  const auto parsed = options::parseCommandLine(
      std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
  if (const auto* early = std::get_if<options::EarlyExit>(&parsed)) {
    std::cout << early->standardOutput;
    std::cerr << early->standardError;
    return early->status;
  }
  const auto& chosen = std::get<options::RunOptions>(parsed);
  // Each line shows as soon as it is written, also through a pipe: the
  // battery pauses for seconds between lines.
  std::cout << std::unitbuf;
  if (!chosen.once && !chosen.json && !chosen.repeatSeconds) {
    return runDiagnostics(std::cin, std::cout, runPass);
  }
  if (chosen.repeatSeconds) net::endProcessOnInterrupt();
  return runScripted(std::cout, runPass, ScriptedRun{chosen.json, chosen.repeatSeconds});
}

}  // namespace

int main(int argc, char* argv[]) {
  try {
    return run(argc, argv);
  } catch (const std::exception& failure) {
    // Only a broken runtime gets here (memory exhausted, say); say so rather than abort.
    std::cerr << "corvanite: " << failure.what() << '\n';
  } catch (...) {
    std::cerr << "corvanite: unexpected failure\n";
  }
  return 1;
}
