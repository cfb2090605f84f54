// A long run that a signal stops cleanly: the watch ends with its summary on
// the first Ctrl-C or termination request, not in the middle of a line.
#pragma once

namespace net {

// From here on the first Ctrl-C or termination request only asks the work to
// stop (a wait it interrupts returns early); a second ends the process as
// endProcessOnInterrupt does.
void stopOnInterrupt();
// Whether a stop was asked for since stopOnInterrupt.
bool stopRequested();

// Standard output is a terminal, where a line may be redrawn in place.
bool outputIsTerminal();

}  // namespace net
