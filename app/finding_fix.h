// What to change, and where, for a finding: the culprit and the remedy as an
// engineer would tell a colleague, rendered from the finding's evidence like
// its sentence (app/finding_text.h). --explain prints it under the sentence;
// the JSON carries it as "fix". Information has none: nothing is wrong.
#pragma once

#include <optional>
#include <string>

#include "app/finding.h"

std::optional<std::string> findingFix(const Finding& finding);
