// Picking one candidate from the evidence: groups that read the text alike, the preferred
// label's edge in close calls, wider labels over narrow ones, and a confidence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detect/detect_model.h"

namespace detect {

struct Candidate {
  std::string name;  // canonical glibc name
  Family family = Family::latin;
  int wide = -1;           // index of the listed candidate that is its wider label
  uint32_t languages = 0;  // the languages of the statistics it serves; 0: family weights
};

// A candidate for `name` (canonical glibc name), with its family and languages.
Candidate make_candidate(const std::string& name);

// What some evidence (one file or a pool of them) says for one candidate.
struct Standing {
  double points = 0;       // weights, language and failure penalties included
  double chars = 0;        // non-ASCII characters behind the points
  bool viable = true;      // decodes the evidence (for one file) / is in the running
  uint64_t signature = 0;  // equal for candidates that read the evidence alike
};

struct Choice {
  int index = -1;      // -1 when no candidate is viable
  double margin = 0;   // points ahead of the best reading that differs, preference left out
  bool alone = false;  // every viable candidate reads the evidence the same way
  int confidence = 0;  // 0-100
  std::string note;    // set when a wider label replaced a narrow one
};

// Points the preferred candidate gets in a comparison: ties and close calls go its way.
inline constexpr double kPreferBonus = 2.5;

Choice choose(const std::vector<Candidate>& candidates, const std::vector<Standing>& standings,
              int preferred);

// 0-100 from the lead over the next reading, the amount of evidence and how plausible the
// chosen reading is on its own.
int confidence_of(double margin, bool alone, double points, double chars);

}  // namespace detect
