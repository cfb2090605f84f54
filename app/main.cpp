#include <exception>
#include <iostream>
#include <optional>
#include <span>
#include <variant>

#include "app/battery.h"
#include "app/line_buffer.h"
#include "app/options.h"
#include "app/pass_setup.h"
#include "app/prometheus_output.h"
#include "app/run.h"
#include "app/watch_run.h"
#include "net/farewell.h"
#include "net/privilege.h"
#include "net/process.h"
#include "net/system_network.h"

namespace {

int exitEarly(const options::EarlyExit& early) {
  std::cout << early.standardOutput;
  std::cerr << early.standardError;
  return early.status;
}

int run(int argc, char* argv[]) {
  // Before anything reads input: CAP_NET_RAW acts only around the calls that need it.
  net::limitPrivilege();
  // A pass ended by Ctrl-C or a termination request still sends what it owes the link.
  net::settleOnInterrupt();
  const auto parsed = options::parseCommandLine(
      std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
  if (const auto* early = std::get_if<options::EarlyExit>(&parsed)) return exitEarly(*early);
  // get_if, not get: neither can be empty here.
  const auto* given = std::get_if<options::RunOptions>(&parsed);
  const auto chosen = interfacesFromOptions(*given);
  if (const auto* early = std::get_if<options::EarlyExit>(&chosen)) return exitEarly(*early);
  const auto* byOption = std::get_if<LinksByOption>(&chosen);
  if (given->watch) {
    return runWatch(*given, preparePass(*given, given->families.front(), *byOption), std::cout,
                    std::cerr);
  }
  net::SystemNetwork network;
  // Passes of one run compare the PIM neighbours' Generation IDs.
  RunMemory memory;
  const PassRunner pass = [&](PassObserver& observer, PassReport& report) {
    for (const net::Family family : given->families) {
      // The interface is found once per battery, before its first test.
      const PassSetup setup = preparePass(*given, family, *byOption);
      runPass(network, setup, observer, report, memory);
      if (!observer.stillWanted()) return;
    }
  };
  // Each line shows as soon as it is complete, also through a pipe: the
  // battery pauses for seconds between lines.
  const LineBufferedStream lines(std::cout);
  std::optional<PrometheusOutput> metrics;
  if (given->prometheusFile) {
    metrics.emplace(*given->prometheusFile, std::cerr);
  }
  PassObserver* alongside = metrics ? &*metrics : nullptr;
  int status = 0;
  if (!given->once && !given->json && !given->repeatSeconds) {
    status = runDiagnostics(std::cin, std::cout, pass, given->explain, alongside);
  } else {
    if (given->repeatSeconds) net::endProcessOnInterrupt();
    status = runScripted(std::cout, pass,
                         ScriptedRun{given->json, given->repeatSeconds, given->explain}, alongside);
  }
  // A monitor whose file was not written must not look like a healthy run.
  if (metrics && metrics->writeFailed() && status == 0) status = 1;
  return status;
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
