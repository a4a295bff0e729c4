// The language statistics: the committed table read once, character and pair probabilities
// mixed, each decoding scored by the best language its encoding serves.
#include "convert/detect_lang.h"

#include <cmath>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// The table itself, linked into the program (see CMakeLists.txt: OUZEL_LANG_MODEL).
// NOLINTNEXTLINE
__asm__(
    ".section .rodata\n"
    ".global ouzel_lang_model_begin\n"
    ".global ouzel_lang_model_end\n"
    "ouzel_lang_model_begin:\n"
    ".incbin \"" OUZEL_LANG_MODEL
    "\"\n"
    "ouzel_lang_model_end:\n"
    ".byte 0\n"
    ".previous\n");
extern "C" const char ouzel_lang_model_begin[];
extern "C" const char ouzel_lang_model_end[];

namespace detect {
namespace {

constexpr double kPairShare = 0.5;     // weight of the pair estimate against the character's
constexpr double kUnseenShare = 0.05;  // of a character's count, for one the text never had
constexpr double kUnknownLanguage = std::log(1e-4);  // per character, no language known

struct Language {
  std::string code;
  std::vector<std::string> encodings;
  double total = 0;
  double unseen = 0;  // log probability of a character never seen
  std::unordered_map<char32_t, double> log_single;
  std::unordered_map<uint64_t, double> pairs;  // (previous << 32 | character) -> count
  std::unordered_map<char32_t, double> after;  // previous -> count of pairs starting with it
};

struct Model {
  std::vector<Language> languages;
  std::unordered_map<std::string, std::vector<size_t>> of_encoding;
};

std::vector<std::string_view> split(std::string_view line, char sep) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (size_t i = 0; i <= line.size(); ++i)
    if (i == line.size() || line[i] == sep) {
      out.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  return out;
}

// The one character a field of the table holds; 0 for anything else. The table is ours, so
// a plain decoder will do.
char32_t one_char(std::string_view utf8) {
  if (utf8.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(utf8[0]);
  const size_t n = b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
  if (utf8.size() != n) return 0;
  char32_t c = n == 1 ? b0 : b0 & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) c = c << 6 | (static_cast<unsigned char>(utf8[i]) & 0x3F);
  return c;
}

Language& language_named(Model& m, std::string_view code) {
  for (Language& l : m.languages)
    if (l.code == code) return l;
  m.languages.push_back({});
  m.languages.back().code = std::string(code);
  return m.languages.back();
}

void read_line(Model& m, std::string_view line) {
  const std::vector<std::string_view> f = split(line, '\t');
  if (f.size() == 4 && f[0] == "L") {
    Language& l = language_named(m, f[1]);
    for (std::string_view e : split(f[2], ',')) l.encodings.emplace_back(e);
    l.total = std::stod(std::string(f[3]));
  } else if (f.size() == 4 && f[0] == "U") {
    if (const char32_t c = one_char(f[2]))
      language_named(m, f[1]).log_single[c] = std::stod(std::string(f[3]));
  } else if (f.size() == 5 && f[0] == "B") {
    const char32_t p = one_char(f[2]), c = one_char(f[3]);
    if (!p || !c) return;
    const double n = std::stod(std::string(f[4]));
    Language& l = language_named(m, f[1]);
    l.pairs[uint64_t{p} << 32 | c] = n;
    l.after[p] += n;
  }
}

const Model& model() {
  static Model* made = nullptr;
  static std::once_flag once;
  // Important: built under call_once; the detector's threads all read the same table.
  std::call_once(once, [] {
    auto* m = new Model;
    const std::string_view text(ouzel_lang_model_begin,
                                static_cast<size_t>(ouzel_lang_model_end - ouzel_lang_model_begin));
    for (std::string_view line : split(text, '\n'))
      if (!line.empty() && line[0] != '#') read_line(*m, line);
    for (size_t i = 0; i < m->languages.size(); ++i) {
      Language& l = m->languages[i];
      const double total = std::max(l.total, 1.0);
      l.unseen = std::log(kUnseenShare / total);
      for (auto& [c, n] : l.log_single) n = std::log(n / total);
      for (const std::string& e : l.encodings) m->of_encoding[e].push_back(i);
    }
    made = m;
  });
  return *made;
}

char32_t fold(char32_t c) {
  if (c >= 0x80) return c;
  const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
  return letter ? U'a' : U' ';
}

double score(const Language& l, std::u32string_view text) {
  double sum = 0;
  char32_t prev = U' ';
  for (char32_t c : text) {
    if (c >= 0x80) {
      const auto single = l.log_single.find(c);
      const double p_single =
          single == l.log_single.end() ? std::exp(l.unseen) : std::exp(single->second);
      double p = p_single;
      if (const auto ctx = l.after.find(prev); ctx != l.after.end()) {
        const auto pair = l.pairs.find(uint64_t{prev} << 32 | c);
        const double p_pair = pair == l.pairs.end() ? 0.0 : pair->second / ctx->second;
        p = kPairShare * p_pair + (1.0 - kPairShare) * p_single;
      }
      sum += std::log(p);
    }
    prev = fold(c);
  }
  return sum;
}

}  // namespace

double language_log_likelihood(std::string_view encoding, std::u32string_view text, bool* known) {
  const Model& m = model();
  const auto it = m.of_encoding.find(std::string(encoding));
  if (known) *known = it != m.of_encoding.end();
  if (it == m.of_encoding.end()) {
    double n = 0;
    for (char32_t c : text) n += c >= 0x80 ? 1 : 0;
    return n * kUnknownLanguage;
  }
  double best = -HUGE_VAL;
  for (size_t i : it->second) best = std::max(best, score(m.languages[i], text));
  return best;
}

double language_log_likelihood_of(std::string_view language, std::u32string_view text,
                                  bool* known) {
  for (const Language& l : model().languages)
    if (l.code == language) {
      if (known) *known = true;
      return score(l, text);
    }
  if (known) *known = false;
  return 0;
}

}  // namespace detect
