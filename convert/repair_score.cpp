// Plausibility of decoded text through the detection's per-family character weights.
#include "convert/repair_score.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "convert/detect_model.h"
#include "convert/utf8.h"

namespace repair {
namespace {

constexpr size_t kWeighedBytes = 64 * 1024;

std::u32string code_points(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out.push_back(utf8_next(utf8, i));
  return out;
}

bool ascii_letter(char32_t c) { return (c | 0x20) >= U'a' && (c | 0x20) <= U'z'; }

// East Asian characters glued to Latin letters, or beside them across one blank: how a Western
// word reads through a Chinese or Japanese code page ("caf茅", "non 癡 un"). Real text rarely
// puts a lone one among Latin words.
double glued_cjk(std::u32string_view text) {
  const auto latin_near = [&text](size_t i, int step) {
    for (int k = 1; k <= 2; ++k) {
      const auto at = static_cast<std::ptrdiff_t>(i) + step * k;
      if (at < 0 || at >= static_cast<std::ptrdiff_t>(text.size())) return false;
      const char32_t c = text[static_cast<size_t>(at)];
      if (ascii_letter(c)) return true;
      if (c != U' ') return false;
    }
    return false;
  };
  double glued = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] < 0x2E80) continue;
    if (latin_near(i, -1) || latin_near(i, 1)) glued += 1;
  }
  return glued;
}

// Points per non-ASCII character of `text` read as family `f`; 0 when it has none.
double points_as(std::u32string_view text, detect::Family f) {
  using detect::Family;
  detect::Tally tally;
  detect::score_text(f, text, tally);
  if (tally.chars == 0) return 0;
  double points = detect::total_points(f, tally);
  const bool cjk =
      f == Family::gb || f == Family::big5 || f == Family::japanese || f == Family::korean;
  if (cjk) points -= 3.0 * glued_cjk(text);
  return points / tally.chars;
}

std::u32string weighed_part(std::string_view utf8) {
  if (utf8.size() > kWeighedBytes) {
    utf8 = utf8.substr(0, kWeighedBytes);
    utf8 = utf8.substr(0, utf8.size() - utf8_incomplete_tail(utf8));
  }
  return code_points(utf8);
}

}  // namespace

size_t non_ascii_chars(std::string_view utf8) {
  size_t n = 0;
  for (char ch : utf8) {
    const auto b = static_cast<unsigned char>(ch);
    n += b >= 0xC0 ? 1 : 0;
  }
  return n;
}

double plausibility(std::string_view utf8) {
  using detect::Family;
  static constexpr Family kFamilies[] = {Family::gb,     Family::big5,      Family::japanese,
                                         Family::korean, Family::cyrillic,  Family::latin,
                                         Family::greek,  Family::hebrew,    Family::arabic,
                                         Family::thai,   Family::vietnamese};
  const std::u32string text = weighed_part(utf8);
  double best = -1e9;
  for (Family f : kFamilies) best = std::max(best, points_as(text, f));
  return best;
}

double plausibility_as(std::string_view utf8, const std::string& encoding) {
  return points_as(weighed_part(utf8), detect::family_of(encoding));
}

}  // namespace repair
