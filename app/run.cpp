#include "app/run.h"

#include <algorithm>
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

// Every test of every family run succeeded.
bool everyTestSucceeded(const PassResults& results) {
  const auto succeeded = [](const PassFindings& findings) {
    return !findings.tests.empty() &&
           std::all_of(findings.tests.begin(), findings.tests.end(), [](const TestRecord& test) {
             return test.outcome == TestOutcome::Succeeded;
           });
  };
  return !results.empty() && std::all_of(results.begin(), results.end(), succeeded);
}

// The output the reader follows, with `alongside` following the same pass.
void runWith(const PassRunner& pass, PassObserver& output, PassObserver* alongside,
             PassResults& results) {
  if (alongside == nullptr) {
    pass(output, results);
    return;
  }
  PassFanOut both(output, {alongside});
  pass(both, results);
}

// One pass of a scripted run; returns whether every test succeeded.
bool runScriptedPass(std::ostream& out, const PassRunner& pass, const ScriptedRun& how,
                     PassObserver* alongside) {
  PassResults results;
  if (how.json) {
    JsonOutput json(out);
    runWith(pass, json, alongside, results);
  } else {
    if (how.repeatSeconds) out << rfc3339Utc(std::chrono::system_clock::now()) << "\n";
    TextOutput text(out, how.explain);
    runWith(pass, text, alongside, results);
  }
  return everyTestSucceeded(results);
}

}  // namespace

int runDiagnostics(std::istream& in, std::ostream& out, const PassRunner& pass, bool explain,
                   PassObserver* alongside) {
  try {
    net::WinsockScope sockets;
    printBanner(out);
    TextOutput text(out, explain);
    do {
      // Nothing found in one pass carries over to the next.
      PassResults results;
      runWith(pass, text, alongside, results);
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
        net::dropPrivilegeForGood();
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
