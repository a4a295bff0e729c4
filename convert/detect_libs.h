// The packaged detectors (ICU's charset detector, uchardet), their answers mapped onto the
// candidates.
#pragma once

#include <string_view>
#include <vector>

#include "convert/detect_choice.h"

namespace detect {

// Per candidate, 0..1: how strongly the libraries name it (or a label that reads alike,
// such as GB18030 for GBK) for `bytes`. ICU counts with its confidence, uchardet in full.
std::vector<double> library_votes(std::string_view bytes, const std::vector<Candidate>& candidates);

}  // namespace detect
