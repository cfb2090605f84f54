#include "app/run.h"

#include <chrono>

#include "app/pass_fan_out.h"
#include "app/pass_json.h"
#include "app/prompt.h"
#include "app/text_output.h"
#include "net/privilege.h"
#include "net/process.h"
#include "net/socket_exceptions.h"
#include "net/winsock_scope.h"

namespace {

void printBanner(std::ostream& out) {
  out << "*****************************************" << std::endl;
  out << "*     Multicast Corvanite Beta          *" << std::endl;
  out << "*****************************************" << std::endl;
  out << std::endl << std::endl;
}

// One pass, followed by the output the reader follows and by `alongside`;
// once all of it ran, both are told the pass is complete.
PassReport runWith(const PassRunner& pass, PassObserver& output, PassObserver* alongside) {
  PassFanOut both(output,
                  alongside != nullptr ? std::vector{alongside} : std::vector<PassObserver*>{});
  PassReport report = PassReport::startingNow();
  pass(both, report);
  if (both.stillWanted()) both.passComplete(report);
  return report;
}

// One pass of a scripted run; returns whether every test succeeded.
bool runScriptedPass(std::ostream& out, const PassRunner& pass, const ScriptedRun& how,
                     PassObserver* alongside) {
  if (how.json) {
    JsonOutput json(out);
    return runWith(pass, json, alongside).succeeded();
  }
  if (how.repeatSeconds) out << rfc3339Utc(std::chrono::system_clock::now()) << "\n";
  TextOutput text(out, how.explain);
  return runWith(pass, text, alongside).succeeded();
}

}  // namespace

int runDiagnostics(std::istream& in, std::ostream& out, const PassRunner& pass, bool explain,
                   PassObserver* alongside) {
  try {
    net::WinsockScope sockets;
    printBanner(out);
    TextOutput text(out, explain);
    do {
      // Nothing found in one pass carries over to the next but the PIM
      // neighbours' Hellos, which the pass runner keeps.
      runWith(pass, text, alongside);
    } while (askWhatNext(in, out) == NextStep::RunAgain);
    sockets.close();
  } catch (const net::CV_SocketException& failure) {
    out << "Caught Exception:" << failure.description() << std::endl;
  }
  return 0;
}

int runScripted(std::ostream& out, const PassRunner& pass, const ScriptedRun& how,
                PassObserver* alongside) {
  try {
    net::WinsockScope sockets;
    if (!how.json) printBanner(out);
    for (;;) {
      const bool succeeded = runScriptedPass(out, pass, how, alongside);
      // Passes nobody can read are not run.
      if (!how.repeatSeconds || !out) {
        sockets.close();
        return succeeded ? 0 : 1;
      }
      net::pauseMs(static_cast<std::uint32_t>(*how.repeatSeconds) * 1000U);
    }
  } catch (const net::CV_SocketException& failure) {
    out << "Caught Exception:" << failure.description() << std::endl;
  }
  return 1;
}
