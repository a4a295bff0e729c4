// Script of UTF-8 text by code point ranges, counted over its letters.
#include "repair/repair_script.h"

#include <array>
#include <cstddef>

#include "transcode/utf8.h"

namespace repair {
namespace {

enum Script : size_t { kLatin, kGreek, kCyrillic, kHebrew, kArabic, kThai, kHangul, kKana, kHan };
constexpr size_t kScripts = 9;
constexpr size_t kNone = kScripts;

struct Range {
  char32_t first, last;
  size_t script;
};

// Letters only: punctuation, symbols and the like say nothing of the language.
constexpr Range kRanges[] = {
    {0x00C0, 0x00D6, kLatin},    {0x00D8, 0x00F6, kLatin},  {0x00F8, 0x024F, kLatin},
    {0x1E00, 0x1EFF, kLatin},    {0x0370, 0x03FF, kGreek},  {0x1F00, 0x1FFF, kGreek},
    {0x0400, 0x052F, kCyrillic}, {0x0590, 0x05FF, kHebrew}, {0xFB1D, 0xFB4F, kHebrew},
    {0x0600, 0x06FF, kArabic},   {0x0750, 0x077F, kArabic}, {0xFB50, 0xFDFF, kArabic},
    {0xFE70, 0xFEFF, kArabic},   {0x0E00, 0x0E7F, kThai},   {0x1100, 0x11FF, kHangul},
    {0x3130, 0x318F, kHangul},   {0xAC00, 0xD7AF, kHangul}, {0x3040, 0x30FF, kKana},
    {0x31F0, 0x31FF, kKana},     {0xFF66, 0xFF9F, kKana},   {0x3400, 0x4DBF, kHan},
    {0x4E00, 0x9FFF, kHan},      {0xF900, 0xFAFF, kHan},
};

size_t script_of(char32_t c) {
  for (const Range& r : kRanges)
    if (c >= r.first && c <= r.last) return r.script;
  return kNone;
}

// Code points of valid UTF-8 (the caller's lines are), counted by script.
std::array<size_t, kScripts> count_scripts(std::string_view utf8) {
  std::array<size_t, kScripts> counts{};
  for (size_t i = 0; i < utf8.size();) {
    const char32_t c = utf8_next(utf8, i);
    const size_t s = c < 0x80 ? kNone : script_of(c);
    if (s != kNone) ++counts[s];
  }
  return counts;
}

// At least four letters in five.
bool most(size_t part, size_t total) { return part * 5 >= total * 4; }

}  // namespace

std::vector<detect::Family> families_of_script(std::string_view utf8, size_t min_letters) {
  using detect::Family;
  const std::array<size_t, kScripts> n = count_scripts(utf8);
  size_t total = 0;
  for (size_t c : n) total += c;
  if (total < min_letters || total == 0) return {};
  const size_t cjk = n[kHan] + n[kKana] + n[kHangul];
  if (most(cjk, total)) {
    if (n[kHangul] > 0 && n[kHangul] >= n[kKana]) return {Family::korean};
    if (n[kKana] > 0) return {Family::japanese};
    return {Family::gb, Family::big5, Family::japanese};
  }
  // Important: Latin letters tell nothing: every single-byte code page reads a legacy line,
  // and Latin comments beside lines in a CJK code page are common enough.
  static constexpr std::pair<size_t, Family> kAlone[] = {{kGreek, Family::greek},
                                                         {kCyrillic, Family::cyrillic},
                                                         {kHebrew, Family::hebrew},
                                                         {kArabic, Family::arabic},
                                                         {kThai, Family::thai}};
  for (const auto& [script, family] : kAlone)
    if (most(n[script], total)) return {family};
  return {};
}

}  // namespace repair
