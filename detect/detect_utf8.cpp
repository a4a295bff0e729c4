// Valid UTF-8 as evidence, not proof: a short UTF-8 reading that is implausible text while a
// candidate reads the same bytes as plausible text belongs to the candidate; one that reads
// no better than the candidate's is a toss-up.
#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include <algorithm>

#include "detect/detect_decode.h"
#include "detect/detect_excerpt.h"
#include "detect/detect_file.h"
#include "detect/lang_model.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace detect {
namespace {

// Past this many non-ASCII characters, legacy text that happens to be valid UTF-8 is out of
// the question (each character is a further chance to break the UTF-8 rules).
constexpr size_t kFewCharacters = 100;
// A candidate's reading must be plausible (detect_choice.h) and lead the UTF-8 reading by
// this much.
constexpr double kDoubtLead = 5.0;
// A candidate's reading that scores at least this, and no less than an implausible UTF-8
// reading, makes a toss-up: a lone common character (GBK 式, -9.9 points) against a lone
// letter of another script (UTF-8 ʽ, -12). Measured on the tune half: real UTF-8 lines with
// 1-3 non-ASCII characters that reach it are nearly all character tables (one rare letter).
constexpr double kTossUpFloor = -10.0;

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

Utf8Verdict utf8_verdict(std::string_view content, const std::vector<Candidate>& candidates,
                         std::string* sample, int* legacy) {
  if (candidates.empty() || non_ascii_characters(content, kFewCharacters) > kFewCharacters)
    return Utf8Verdict::utf8;
  const Excerpt ex = cut_excerpt(content, 8192);
  std::u32string text;
  if (!decode_strict(ex.bytes, "UTF-8", text).ok) return Utf8Verdict::utf8;
  // Important: the UTF-8 reading is judged by the best of every language, so a UTF-8 text in
  // any language the statistics know stays UTF-8; only letters no language puts together
  // (ģʽ) make it implausible. Symbols alone (©, °) are no evidence either way.
  double utf8_chars = 0;
  const double as_utf8 = utf8_points(text, &utf8_chars);
  if (utf8_chars == 0 || as_utf8 >= 0) return Utf8Verdict::utf8;
  int toss_up = -1;
  double toss_up_points = 0;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& c = candidates[i];
    if (c.family == Family::unicode) continue;
    std::u32string other;
    if (!decode_strict(ex.bytes, c.name, other).ok) continue;
    double chars = 0;
    const double points = language_points(other, c.name, &chars);
    if (chars <= 0) continue;
    // Plausible by the line detection draws for its own readings (a lone common character,
    // 式, scores a little below random bytes), and well ahead of the UTF-8 reading.
    if (plausible(c, points, chars) && points >= as_utf8 + kDoubtLead) {
      if (sample) *sample = sample_line(content, "UTF-8", 60);
      if (legacy) *legacy = static_cast<int>(i);
      return Utf8Verdict::legacy;
    }
    if (points >= kTossUpFloor && points >= as_utf8 && (toss_up < 0 || points > toss_up_points))
      toss_up = static_cast<int>(i), toss_up_points = points;
  }
  if (toss_up < 0) return Utf8Verdict::utf8;
  if (sample) *sample = sample_line(content, "UTF-8", 60);
  if (legacy) *legacy = toss_up;
  return Utf8Verdict::toss_up;
}

bool utf8_doubtful(std::string_view content, const std::vector<Candidate>& candidates,
                   std::string* sample) {
  return utf8_verdict(content, candidates, sample, nullptr) == Utf8Verdict::legacy;
}

Decision utf8_toss_up(std::string_view content, std::string_view shown, const std::string& legacy) {
  Decision d{
      "", Evidence::ambiguous, 0, first_difference(shown, "UTF-8", legacy), {"UTF-8", legacy}};
  // Important: `content` may be only a big file's lines above ASCII, whose line numbers are
  // not the file's: where `shown` (its beginning) holds no difference, no line is named.
  if (d.note.empty())
    d.note = kestrum::strfmt(_("%s reads \u201C%s\u201D, %s \u201C%s\u201D"), "UTF-8",
                             sample_line(content, "UTF-8", 60).c_str(), legacy.c_str(),
                             sample_line(content, legacy, 60).c_str());
  d.readings = readings_apart(content, "UTF-8", legacy);
  return d;
}

namespace {

std::vector<Candidate> legacy_candidates(const std::vector<std::string>& encodings) {
  std::vector<Candidate> candidates;
  for (const std::string& name : expand_candidates(encodings))
    if (!is_unicode_form(name)) candidates.push_back(make_candidate(name));
  return candidates;
}

}  // namespace

bool utf8_doubtful(std::string_view content, const std::vector<std::string>& encodings) {
  return utf8_doubtful(content, legacy_candidates(encodings), nullptr);
}

Utf8Doubt utf8_doubt(std::string_view content, const std::vector<std::string>& encodings,
                     std::string_view shown) {
  const std::vector<Candidate> candidates = legacy_candidates(encodings);
  int legacy = -1;
  Utf8Doubt doubt;
  doubt.verdict = utf8_verdict(content, candidates, nullptr, &legacy);
  if (doubt.verdict == Utf8Verdict::utf8) return doubt;
  doubt.encoding = candidates[static_cast<size_t>(legacy)].name;
  if (doubt.verdict == Utf8Verdict::toss_up) {
    const Decision d = utf8_toss_up(content, shown, doubt.encoding);
    doubt.note = d.note;
    doubt.readings = d.readings;
  }
  return doubt;
}

}  // namespace detect
