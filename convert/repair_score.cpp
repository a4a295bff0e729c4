// Plausibility of decoded text through the detection's per-family character weights.
#include "convert/repair_score.h"

#include <algorithm>
#include <string>

#include "convert/detect_model.h"
#include "convert/utf8.h"

namespace repair {
namespace {

constexpr size_t kWeighedBytes = 64 * 1024;

std::u32string code_points(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? b : n == 2 ? (b & 0x1Fu) : n == 3 ? (b & 0x0Fu) : (b & 0x07u);
    for (size_t k = 1; k < n && i + k < utf8.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    out.push_back(c);
    i += n;
  }
  return out;
}

bool ascii_letter(char32_t c) { return (c | 0x20) >= U'a' && (c | 0x20) <= U'z'; }

// East Asian characters glued to Latin letters: how a Western word reads through a Chinese
// or Japanese code page ("caf茅"). Real text rarely writes a Latin letter right beside them.
double glued_cjk(std::u32string_view text) {
  double glued = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] < 0x2E80) continue;
    const bool before = i > 0 && ascii_letter(text[i - 1]);
    const bool after = i + 1 < text.size() && ascii_letter(text[i + 1]);
    if (before || after) glued += 1;
  }
  return glued;
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
  if (utf8.size() > kWeighedBytes) {
    utf8 = utf8.substr(0, kWeighedBytes);
    utf8 = utf8.substr(0, utf8.size() - utf8_incomplete_tail(utf8));
  }
  const std::u32string text = code_points(utf8);
  using detect::Family;
  static constexpr Family kFamilies[] = {Family::gb,     Family::big5,     Family::japanese,
                                         Family::korean, Family::cyrillic, Family::latin,
                                         Family::greek};
  double best = -1e9;
  double chars = 0;
  for (Family f : kFamilies) {
    detect::Tally tally;
    detect::score_text(f, text, tally);
    chars = tally.chars;
    if (tally.chars == 0) return 0;
    double points = detect::total_points(f, tally);
    const bool cjk =
        f == Family::gb || f == Family::big5 || f == Family::japanese || f == Family::korean;
    if (cjk) points -= 3.0 * glued_cjk(text);
    best = std::max(best, points / tally.chars);
  }
  return chars == 0 ? 0 : best;
}

}  // namespace repair
