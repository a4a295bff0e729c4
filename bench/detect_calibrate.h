// What detection weighs on each labelled file before the line is drawn: the features the
// refusal line is calibrated on (tune half only), one row per file, setting and layout.
#pragma once

#include <string>
#include <vector>

#include "labelled_corpus.h"

namespace calibrate {

// Tab-separated rows: setting, layout, path, encoding, language, class, named, evidence,
// guess, verdict, plausibility, chars, lead, confidence; with every unsure reading taken.
std::string features(const std::vector<labelled::File>& files);

}  // namespace calibrate
