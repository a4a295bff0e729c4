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
  // The best reading of an encoding outside the candidates whose text no candidate reads
  // (-1: none, or not weighed), and its points without its prior.
  int outsider = -1;
  double outside_points = 0;
  std::string outside_note;  // where the own and the outsider's readings part (not decided)
};

// True when the outsider's reading leads a reading of `points` (its prior left out) by
// kOutsideLead or more.
bool outside_leads(const FileAnalysis& fa, double points);

// Minimum lead, in points, for a file to be decided on its own text.
inline constexpr double kOwnMargin = 15.0;
// Below this lead over a reading that differs, with nothing else to go on, the file is
// ambiguous (unless the preferred encoding leads: the user's choice settles a close call).
inline constexpr double kAmbiguousMargin = 1.5;
// The same for a file whose valid UTF-8 was set aside as implausible (utf8_doubtful).
inline constexpr double kDoubtedMargin = 5.0;
// Lead, in points, by which a reading of an encoding the user did not list refuses the file:
// the candidates bound what may be written, they do not make a worse reading right. The lead
// that would have decided the file for it, had it been a candidate.
inline constexpr double kOutsideLead = kAmbiguousMargin;
// Only a weak reading is weighed against those encodings: at most this many characters, or
// fewer points a character than kOutsidePlausible (a long text read as Czech that is Lithuanian
// scores below 0; right readings of that length score above 0.5 nearly always).
inline constexpr double kOutsideChars = 10;
inline constexpr double kOutsidePlausible = 0.5;

// True when `content`, valid UTF-8 with few non-ASCII characters, reads as implausible text
// in UTF-8 while a candidate reads it as plausible text; `*sample` gets the UTF-8 reading.
bool utf8_doubtful(std::string_view content, const std::vector<Candidate>& candidates,
                   std::string* sample);
// The same with the toss-up (detect.h); `*legacy` gets the index of the legacy reading.
Utf8Verdict utf8_verdict(std::string_view content, const std::vector<Candidate>& candidates,
                         std::string* sample, int* legacy);
// The ambiguous decision for a toss-up between UTF-8 and `legacy`; where they part is named
// in `shown`, the beginning of the file `content` comes from.
Decision utf8_toss_up(std::string_view content, std::string_view shown, const std::string& legacy);

// Where the readings of candidates `first` and `second` part, for a person to settle it.
std::string close_call_note(const std::vector<Candidate>& candidates, std::string_view content,
                            int first, int second);

// `outsiders`: the encodings of every preset that are not candidates, weighed only to refuse.
FileAnalysis analyse_file(const std::vector<Candidate>& candidates,
                          const std::vector<Candidate>& outsiders, int preferred,
                          std::string_view content, const TreeDetector::Options& options);

}  // namespace detect
