// Valid UTF-8 as evidence, not proof: a short UTF-8 reading that is implausible text while a
// candidate reads the same bytes as plausible text belongs to the candidate.
#include "convert/detect_decode.h"
#include "convert/detect_excerpt.h"
#include "convert/detect_file.h"

namespace detect {
namespace {

// Past this many non-ASCII characters, legacy text that happens to be valid UTF-8 is out of
// the question (each character is a further chance to break the UTF-8 rules).
constexpr size_t kFewCharacters = 100;
// A candidate's reading counts as plausible at this many points per character.
constexpr double kPlausiblePerChar = 0.75;
// And must lead the UTF-8 reading by this much.
constexpr double kDoubtLead = 5.0;

size_t non_ascii_characters(std::string_view utf8, size_t stop_after) {
  size_t n = 0;
  for (unsigned char c : utf8)
    if (c >= 0xC0 && ++n > stop_after) break;
  return n;
}

}  // namespace

bool utf8_doubtful(std::string_view content, const std::vector<Candidate>& candidates,
                   std::string* sample) {
  if (candidates.empty() || non_ascii_characters(content, kFewCharacters) > kFewCharacters)
    return false;
  const Excerpt ex = cut_excerpt(content, 8192);
  std::u32string text;
  if (!decode_strict(ex.bytes, "UTF-8", text).ok) return false;
  const double as_utf8 = unicode_points(text);
  if (as_utf8 >= 0) return false;
  for (const Candidate& c : candidates) {
    if (c.family == Family::unicode) continue;
    std::u32string other;
    if (!decode_strict(ex.bytes, c.name, other).ok) continue;
    double chars = 0;
    const double points = text_points(c.family, other, &chars);
    if (chars > 0 && points >= kPlausiblePerChar * chars && points >= as_utf8 + kDoubtLead) {
      if (sample) *sample = sample_line(content, "UTF-8", 60);
      return true;
    }
  }
  return false;
}

bool utf8_doubtful(std::string_view content, const std::vector<std::string>& encodings) {
  std::vector<Candidate> candidates;
  for (const std::string& name : expand_candidates(encodings))
    if (!is_unicode_form(name)) candidates.push_back(make_candidate(name));
  return utf8_doubtful(content, candidates, nullptr);
}

}  // namespace detect
