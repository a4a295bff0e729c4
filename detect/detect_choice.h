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
  std::string changes;     // the ASCII bytes it reads as other characters (JOHAB: '\\')
  double prior = 0;        // points it starts with: less than 0 for a rarely met encoding
  bool foreign = false;    // no language is written in it: weighed by those of its script
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
  double points = 0;   // of the best reading of the chosen text
  double chars = 0;    // non-ASCII characters behind them
};

// Points the preferred candidate gets in a comparison: ties and close calls go its way.
inline constexpr double kPreferBonus = 2.5;
// Points a rarely met encoding (is_rare) starts behind: a short text that reads alike in
// CP1252 and ISO-8859-4 is CP1252 text.
inline constexpr double kRarePrior = 2.0;
// And one no language of the statistics is written in (ISO-8859-10, ISO-8859-14, EBCDIC),
// weighed by every language of its script, further behind: its readings compare with text of
// other languages, so only a clearly better reading should carry it.
inline constexpr double kForeignPrior = 4.0;

Choice choose(const std::vector<Candidate>& candidates, const std::vector<Standing>& standings,
              int preferred);

// The line under which a reading is not taken: text whose best reading scores less than
// plausible_floor() points per non-ASCII character (random bytes score 0) is no text of the
// candidates. Calibrated on the tune half of the corpus, with files run with candidates that
// lack their encoding.
// Below about -0.5 points a character a text is no text of the candidates; short texts vary
// more, and the Chinese, Japanese and Korean statistics (two bytes a character) spread wider.
double plausible_floor(double chars, bool wide);
// `points` without the candidate's prior.
bool plausible(const Candidate& c, double points, double chars);

// The confidence reported: 60-99 for a reading taken, 0-59 for one refused or taken as a guess,
// so that the line a person sees matches the one detection draws.
inline constexpr int kTakenConfidence = 60;
int reported_confidence(int confidence, bool taken);

// 0-100 from the lead over the next reading, the amount of evidence and how plausible the
// chosen reading is on its own.
int confidence_of(double margin, bool alone, double points, double chars);

}  // namespace detect
