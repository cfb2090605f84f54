#include "app/prompt.h"

#include <string>

NextStep askWhatNext(std::istream& in, std::ostream& out) {
  for (;;) {
    out << "\n +> To exit enter 'q' , to re run the test enter 'y' \n" << std::flush;
    // A prompt nobody can see is not waited on.
    if (!out) return NextStep::Quit;
    std::string word;
    if (!(in >> word)) return NextStep::Quit;
    if (word == "q") return NextStep::Quit;
    if (word == "y") return NextStep::RunAgain;
  }
}
