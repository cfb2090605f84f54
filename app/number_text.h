// Numbers as the metrics text writes them.
#pragma once

#include <string>

// Appends the shortest text that reads back as the same double, in fixed or
// scientific notation, whichever is shorter, fixed on a tie: 0.000313,
// 22.014, 1765216766.505, 1e+06 (std::to_chars). Not-a-number and the
// infinities are written as the metrics text spells them: NaN, +Inf, -Inf.
void appendShortestNumber(std::string& out, double value);
