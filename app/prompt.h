#pragma once

#include <istream>
#include <ostream>

enum class NextStep { RunAgain, Quit };

// Asks until the user types exactly "y" or "q". When input ends or can no
// longer be read, or the prompt can no longer be written, the run ends as on
// "q" instead of asking forever.
NextStep askWhatNext(std::istream& in, std::ostream& out);
