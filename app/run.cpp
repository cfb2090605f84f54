#include "app/run.h"

#include <algorithm>
#include <chrono>
#include <sstream>

#include "app/pass_json.h"
#include "app/prompt.h"
#include "net/platform.h"
#include "net/socket_exceptions.h"
#include "net/winsock_scope.h"

namespace {

void printBanner(std::ostream& out) {
  out << "*****************************************" << std::endl;
  out << "*     Multicast Corvanite Beta          *" << std::endl;
  out << "*****************************************" << std::endl;
  out << std::endl << std::endl;
}

bool everyTestSucceeded(const PassFindings& findings) {
  return std::all_of(findings.tests.begin(), findings.tests.end(),
                     [](const TestRecord& test) { return test.outcome == TestOutcome::Succeeded; });
}

// One pass of a scripted run; returns whether all eight tests succeeded.
bool runScriptedPass(std::ostream& out, const PassRunner& pass, const ScriptedRun& how) {
  PassFindings findings;
  const PassTiming began{std::chrono::system_clock::now(), 0};
  const std::uint32_t startTick = net::tickCountMs();
  if (!how.json) {
    if (how.repeatSeconds) out << rfc3339Utc(began.start) << "\n";
    pass(out, findings);
    return everyTestSucceeded(findings);
  }
  // The text is still written, unseen, so that the report's lines are the
  // text mode's own.
  std::ostringstream text;
  pass(text, findings);
  const PassTiming timing{began.start, net::tickCountMs() - startTick};
  out << passJson(timing, findings) << std::endl;
  return everyTestSucceeded(findings);
}

}  // namespace

int runDiagnostics(std::istream& in, std::ostream& out, const PassRunner& pass) {
  try {
    const net::WinsockScope sockets;
    printBanner(out);
    do {
      // Nothing found in one pass carries over to the next.
      PassFindings findings;
      pass(out, findings);
    } while (askWhatNext(in, out) == NextStep::RunAgain);
  } catch (const net::CV_SocketException& failure) {
    out << "Caught Exception:" << failure.description() << std::endl;
  }
  return 0;
}

int runScripted(std::ostream& out, const PassRunner& pass, const ScriptedRun& how) {
  try {
    const net::WinsockScope sockets;
    if (!how.json) printBanner(out);
    for (;;) {
      const bool succeeded = runScriptedPass(out, pass, how);
      // Passes nobody can read are not run.
      if (!how.repeatSeconds || !out) return succeeded ? 0 : 1;
      net::pauseMs(static_cast<std::uint32_t>(*how.repeatSeconds) * 1000U);
    }
  } catch (const net::CV_SocketException& failure) {
    out << "Caught Exception:" << failure.description() << std::endl;
  }
  return 1;
}
