// Valid UTF-8 as evidence, not proof: a short UTF-8 reading that is implausible text while a
// candidate reads the same bytes as plausible text belongs to the candidate.
#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include <algorithm>

#include "detect/detect_decode.h"
#include "detect/detect_excerpt.h"
#include "detect/detect_file.h"
#include "detect/lang_model.h"

namespace detect {
namespace {

// Past this many non-ASCII characters, legacy text that happens to be valid UTF-8 is out of
// the question (each character is a further chance to break the UTF-8 rules).
constexpr size_t kFewCharacters = 100;
// A candidate's reading must be plausible (detect_choice.h) and lead the UTF-8 reading by
// this much.
constexpr double kDoubtLead = 5.0;

size_t non_ascii_characters(std::string_view utf8, size_t stop_after) {
  size_t n = 0;
  for (unsigned char c : utf8)
    if (c >= 0xC0 && ++n > stop_after) break;
  return n;
}

// The script a letter is written in, with Han, kana and Hangul as one (Japanese mixes them).
int script_group(char32_t c) {
  UErrorCode err = U_ZERO_ERROR;
  const UScriptCode script = uscript_getScript(static_cast<UChar32>(c), &err);
  if (U_FAILURE(err)) return USCRIPT_UNKNOWN;
  switch (script) {
    case USCRIPT_HIRAGANA:
    case USCRIPT_KATAKANA:
    case USCRIPT_HANGUL:
      return USCRIPT_HAN;
    default:
      return script;
  }
}

// The letters of a UTF-8 reading, one script at a time, for the statistics: symbols, digits,
// punctuation, spaces and other scripts' letters become ASCII blanks and a combining mark after
// a letter is dropped, since Unicode text holds them freely (© → ✓ 🎉, decomposed accents, a
// Russian comment beside a Chinese string) whatever its language.
std::vector<std::u32string> letters_by_script(const std::u32string& text) {
  std::vector<int> scripts;
  std::vector<std::u32string> parts;
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    const auto u = static_cast<UChar32>(c);
    const int8_t type = u_charType(u);
    const bool mark =
        type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK || type == U_ENCLOSING_MARK;
    const bool after_letter = i > 0 && u_isalpha(static_cast<UChar32>(text[i - 1]));
    if (c < 0x80 || (mark && after_letter) || !(u_isalpha(u) || mark)) continue;
    const int g = script_group(c);
    if (std::find(scripts.begin(), scripts.end(), g) == scripts.end()) scripts.push_back(g);
  }
  for (int g : scripts) {
    std::u32string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      const char32_t c = text[i];
      const auto u = static_cast<UChar32>(c);
      const int8_t type = u_charType(u);
      const bool mark = type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK ||
                        type == U_ENCLOSING_MARK;
      if (c < 0x80) {
        out.push_back(c);
      } else if (mark && !out.empty() && u_isalpha(static_cast<UChar32>(out.back()))) {
        continue;
      } else {
        out.push_back((u_isalpha(u) || mark) && script_group(c) == g ? c : U' ');
      }
    }
    parts.push_back(std::move(out));
  }
  return parts;
}

// How plausible a UTF-8 reading is: each script's letters scored by the best language for
// them, summed; `*chars` gets the letters weighed.
double utf8_points(const std::u32string& text, double* chars) {
  double total = 0;
  *chars = 0;
  for (const std::u32string& part : letters_by_script(text)) {
    double n = 0;
    total += best_language_points(part, &n);
    *chars += n;
  }
  return total;
}

}  // namespace

bool utf8_doubtful(std::string_view content, const std::vector<Candidate>& candidates,
                   std::string* sample) {
  if (candidates.empty() || non_ascii_characters(content, kFewCharacters) > kFewCharacters)
    return false;
  const Excerpt ex = cut_excerpt(content, 8192);
  std::u32string text;
  if (!decode_strict(ex.bytes, "UTF-8", text).ok) return false;
  // Important: the UTF-8 reading is judged by the best of every language, so a UTF-8 text in
  // any language the statistics know stays UTF-8; only letters no language puts together
  // (ģʽ) make it implausible.
  double utf8_chars = 0;
  const double as_utf8 = utf8_points(text, &utf8_chars);
  if (utf8_chars == 0 || as_utf8 >= 0) return false;
  for (const Candidate& c : candidates) {
    if (c.family == Family::unicode) continue;
    std::u32string other;
    if (!decode_strict(ex.bytes, c.name, other).ok) continue;
    double chars = 0;
    const double points = language_points(other, c.name, &chars);
    // Plausible by the line detection draws for its own readings (a lone common character,
    // 式, scores a little below random bytes), and well ahead of the UTF-8 reading.
    if (chars > 0 && plausible(c, points, chars) && points >= as_utf8 + kDoubtLead) {
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
