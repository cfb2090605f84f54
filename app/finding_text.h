// The sentence an engineer reads for a finding, rendered from its evidence:
// it names the interface, the addresses and the values, and says what to
// make of them. --explain prints it; the JSON carries it as "summary".
#pragma once

#include <string>

#include "app/finding.h"

std::string findingSentence(const Finding& finding);
