// A finding as the JSON carries it: its id, severity, sentence, evidence and
// reference, the evidence written by one walk over its typed fields.
#pragma once

#include <nlohmann/json.hpp>

#include "app/finding.h"

// {"id", "severity", "summary", "evidence", "reference"}: the reference is
// null where there is none.
nlohmann::ordered_json findingJson(const Finding& finding);
