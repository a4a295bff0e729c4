// The packaged detectors (ICU's charset detector, uchardet), their answers mapped onto the
// candidates.
#pragma once

#include <string_view>
#include <vector>

#include "detect/detect_choice.h"

namespace detect {

// Per candidate, the points the libraries' answers for `bytes` give it (an answer counts for
// the labels that read alike, such as GB18030 for GBK): each library's log-odds of being
// right, as measured on the tune half; 0 for a candidate neither names.
std::vector<double> library_votes(std::string_view bytes, const std::vector<Candidate>& candidates);

}  // namespace detect
