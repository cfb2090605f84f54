#include "app/run.h"

#include "app/prompt.h"
#include "net/socket_exceptions.h"
#include "net/winsock_scope.h"

namespace {

void printBanner(std::ostream& out) {
  out << "*****************************************" << std::endl;
  out << "*     Multicast Corvanite Beta          *" << std::endl;
  out << "*****************************************" << std::endl;
  out << std::endl << std::endl;
}

}  // namespace

int runDiagnostics(std::istream& in, std::ostream& out, const PassRunner& pass) {
  try {
    const WinsockScope sockets;
    printBanner(out);
    do {
      // Nothing found in one pass carries over to the next.
      PassFindings findings;
      pass(out, findings);
    } while (askWhatNext(in, out) == NextStep::RunAgain);
  } catch (const CV_SocketException& failure) {
    out << "Caught Exception:" << failure.description() << std::endl;
  }
  return 0;
}
