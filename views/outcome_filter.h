// The outcome filter's list, shared by the report and the preview.
#pragma once

#include <vector>

#include "views/report_rows.h"

// The choice holding `value`, or null.
const OutcomeChoice* find_choice(const std::vector<OutcomeChoice>& choices, int value);

// A combo of `choices` (ImGui `id`, test probe name `probe`), as wide as its longest label;
// true when the user picked another one into `outcome`. Allocates nothing per frame.
bool outcome_combo(const char* id, const char* probe, const std::vector<OutcomeChoice>& choices,
                   int& outcome);
