// What --prometheus adds to a pass: rendering the full lab's findings as
// metrics, and replacing the file whole (temporary file, fsync, rename), timed
// over many rounds on the monotonic clock. Prints the medians and the 99th
// percentiles in microseconds, and the file's size.
//
// Usage: corvanite_bench_metrics [FOLDER] [ROUNDS]   (FOLDER: where the file goes,
// default /var/tmp; its file system decides what fsync costs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/battery.h"
#include "app/prometheus_output.h"
#include "net/file_replace.h"
#include "net/process.h"
#include "tests/unit/pass_sample.h"
#include "tests/unit/scripted_lab.h"

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

void report(const char* what, std::vector<double> times) {
  std::sort(times.begin(), times.end());
  std::printf("%-28s median %8.1f us   p99 %8.1f us   max %8.1f us\n", what,
              times[times.size() / 2], times[times.size() * 99 / 100], times.back());
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace testing_support;
  const std::string folder = argc > 1 ? argv[1] : "/var/tmp";
  const int rounds = argc > 2 ? std::stoi(argv[2]) : 1000;
  ScriptedNetwork network;
  ScriptedLab{}.install(network);
  PassObserver quiet;
  PassFindings findings;
  runPassInto(network, labSetup(), quiet, findings);
  findings.chosenInterface = InterfaceSummary{"eth0", "10.0.1.2", "option"};

  const std::string file =
      folder + "/corvanite-bench-" + std::to_string(net::processId()) + ".prom";
  const PassTiming timing{std::chrono::system_clock::now(), 22014};
  std::vector<double> render;
  std::vector<double> whole;
  std::size_t size = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    const std::string text = prometheusText(reportOf(timing, {findings}));
    const auto rendered = Clock::now();
    if (const auto failure = net::replaceFileWhole(file, text)) {
      std::fprintf(stderr, "cannot write %s: %s: %s\n", file.c_str(), failure->step.c_str(),
                   failure->message.c_str());
      return 1;
    }
    const auto written = Clock::now();
    render.push_back(microseconds(rendered - start));
    whole.push_back(microseconds(written - start));
    size = text.size();
  }
  std::remove(file.c_str());
  std::printf("full lab's metrics: %zu bytes, %d rounds, file in %s\n", size, rounds,
              folder.c_str());
  report("render", render);
  report("render + replace the file", whole);
  return 0;
}
