// What one file's own text says: special forms first, then every candidate weighed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/detect.h"
#include "convert/detect_choice.h"
#include "convert/detect_model.h"

namespace detect {

struct FileAnalysis {
  bool decided = false;  // `decision` stands whatever the pool says
  Decision decision;
  std::vector<Tally> tallies;  // per candidate; empty for the special forms
  std::vector<Standing> standings;
  Choice own;           // the file's own choice
  std::string excerpt;  // the evidence bytes, for the pool
};

// Minimum lead, in points, for a file to be decided on its own text.
inline constexpr double kOwnMargin = 15.0;

FileAnalysis analyse_file(const std::vector<Candidate>& candidates, int preferred,
                          std::string_view content, const TreeDetector::Options& options);

}  // namespace detect
