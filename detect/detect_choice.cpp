// Choosing among candidates.
#include "detect/detect_choice.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "detect/detect.h"
#include "detect/lang_model.h"

namespace detect {
namespace {

// The member of the winning group that carries the label: the preferred one, else the one
// whose languages fit the text best (a French « » is named CP1252, not CP1251), else the first
// listed.
int pick_in_group(const std::vector<Standing>& s, int best, int preferred) {
  if (preferred >= 0 && static_cast<size_t>(preferred) < s.size() && s[preferred].viable &&
      s[preferred].signature == s[best].signature)
    return preferred;
  int pick = -1;
  for (size_t i = 0; i < s.size(); ++i) {
    if (!s[i].viable || s[i].signature != s[best].signature) continue;
    if (pick < 0 || s[i].points > s[static_cast<size_t>(pick)].points) pick = static_cast<int>(i);
  }
  return pick < 0 ? best : pick;
}

// The best points of any candidate reading the same text as `member`.
// Important: the text is as plausible as its best reading; the label carried may be scored by
// the statistics of a language the text is not in (GBK for Japanese kana that GB2312 holds).
double group_points(const std::vector<Standing>& s, int member) {
  double top = s[static_cast<size_t>(member)].points;
  for (const Standing& st : s)
    if (st.viable && st.signature == s[static_cast<size_t>(member)].signature)
      top = std::max(top, st.points);
  return top;
}

}  // namespace

Candidate make_candidate(const std::string& name) {
  const bool foreign = lang_model().written_in(name) == 0;
  return {name,
          family_of(name),
          -1,
          lang_model().served_by(name),
          ascii_changes(name),
          -(is_rare(name) ? kRarePrior : 0.0) - (foreign ? kForeignPrior : 0.0),
          foreign};
}

Choice choose(const std::vector<Candidate>& candidates, const std::vector<Standing>& s,
              int preferred) {
  Choice c;
  // The best by points with the preference bonus; ties go to the earlier candidate.
  int best = -1;
  double best_score = -std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < s.size(); ++i) {
    if (!s[i].viable) continue;
    const double score = s[i].points + (static_cast<int>(i) == preferred ? kPreferBonus : 0.0);
    if (score > best_score) best_score = score, best = static_cast<int>(i);
  }
  if (best < 0) return c;
  best = pick_in_group(s, best, preferred);
  double rival = -std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i].viable && s[i].signature != s[best].signature) rival = std::max(rival, s[i].points);
  const double top = group_points(s, best);
  c.alone = std::isinf(rival);
  c.margin = c.alone ? std::numeric_limits<double>::infinity() : top - rival;

  // Important: a narrow label loses to its wider twin whenever both read the evidence and the
  // wider one reads it no worse (SHIFT_JIS would turn every backslash into a yen sign).
  const int wide = candidates[static_cast<size_t>(best)].wide;
  if (wide >= 0 && s[static_cast<size_t>(wide)].viable &&
      s[static_cast<size_t>(wide)].points >= top - 1.0) {
    c.note = wider_label_note(candidates[static_cast<size_t>(wide)].name,
                              candidates[static_cast<size_t>(best)].name);
    best = wide;
  }
  c.index = best;
  c.points = top;
  c.chars = s[static_cast<size_t>(best)].chars;
  c.confidence = confidence_of(c.margin, c.alone, top, s[static_cast<size_t>(best)].chars);
  return c;
}

double plausible_floor(double chars, bool wide) {
  if (wide) return -4.0;
  return chars <= 3 ? -2.0 : chars <= 10 ? -1.0 : -0.5;
}

bool plausible(const Candidate& c, double points, double chars) {
  const bool wide = c.family == Family::gb || c.family == Family::big5 ||
                    c.family == Family::japanese || c.family == Family::korean;
  return chars <= 0 || points - c.prior >= plausible_floor(chars, wide) * chars;
}

int reported_confidence(int confidence, bool taken) {
  const int c = std::clamp(confidence, 0, 99);
  const int span = taken ? 99 - kTakenConfidence : kTakenConfidence - 1;
  return (taken ? kTakenConfidence : 0) + (c * span + 49) / 99;
}

int confidence_of(double margin, bool alone, double points, double chars) {
  if (chars <= 0) return alone ? 50 : 0;
  // How much the chosen reading looks like text: 1 at one point per character.
  const double plausible = std::clamp((points / chars + 0.5) / 1.5, 0.0, 1.0);
  double conf;
  if (alone) {
    conf = 40.0 + 59.0 * plausible * (1.0 - std::exp(-chars / 6.0));
  } else {
    const double lead = std::max(margin, 0.0);
    conf = 99.0 * (1.0 - std::exp(-lead / 10.0)) * (0.5 + 0.5 * plausible);
  }
  return static_cast<int>(std::lround(std::clamp(conf, 0.0, 99.0)));
}

}  // namespace detect
