// What one file's own text says: special forms first, then every candidate weighed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "detect/detect.h"
#include "detect/detect_choice.h"
#include "detect/detect_model.h"

namespace detect {

struct FileAnalysis {
  bool decided = false;  // `decision` stands whatever the pool says
  Decision decision;
  std::vector<Tally> tallies;  // per candidate; empty for the special forms
  std::vector<Standing> standings;
  Choice own;              // the file's own choice
  std::string excerpt;     // the evidence bytes, for the pool
  int rival = -1;          // the best reading that differs from the own choice
  std::string utf8_doubt;  // set when valid UTF-8 was set aside as implausible
  std::string close_call;  // when the file is not decided: both readings with a sample each
  std::string readings;    // the same, short (readings_apart)
};

// Minimum lead, in points, for a file to be decided on its own text.
inline constexpr double kOwnMargin = 15.0;
// Below this lead over a reading that differs, with nothing else to go on, the file is
// ambiguous (unless the preferred encoding leads: the user's choice settles a close call).
inline constexpr double kAmbiguousMargin = 1.5;
// The same for a file whose valid UTF-8 was set aside as implausible (utf8_doubtful).
inline constexpr double kDoubtedMargin = 5.0;

// True when `content`, valid UTF-8 with few non-ASCII characters, reads as implausible text
// in UTF-8 while a candidate reads it as plausible text; `*sample` gets the UTF-8 reading.
bool utf8_doubtful(std::string_view content, const std::vector<Candidate>& candidates,
                   std::string* sample);

// Where the readings of candidates `first` and `second` part, for a person to settle it.
std::string close_call_note(const std::vector<Candidate>& candidates, std::string_view content,
                            int first, int second);

FileAnalysis analyse_file(const std::vector<Candidate>& candidates, int preferred,
                          std::string_view content, const TreeDetector::Options& options);

}  // namespace detect
