// Reading the language statistics and scoring decoded text with them.
#include "detect/lang_model.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "detect/detect.h"
#include "detect/detect_model.h"
#include "detect/lang_model_data.h"

namespace detect {

struct LangModel::Table {
  std::vector<uint64_t> keys;  // kEmpty where free
  std::vector<uint32_t> rows;
  std::vector<float> values;  // rows of `stride` floats
  size_t stride = 0;
  static constexpr uint64_t kEmpty = ~uint64_t{0};

  static size_t slot(uint64_t key, size_t mask) {
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
  }
  const float* find(uint64_t key) const {
    const size_t mask = keys.size() - 1;
    for (size_t i = slot(key, mask);; i = (i + 1) & mask) {
      if (keys[i] == key) return &values[rows[i] * stride];
      if (keys[i] == kEmpty) return nullptr;
    }
  }
};

namespace {

constexpr double kBigramShare = 0.7;  // weight of the pair statistics against the characters
constexpr double kCaseJump = -4.0;
constexpr double kNeverSeen = -8.0;   // a character none of the languages showed in their millions
                                      // // a capital right after a small letter, in any language
constexpr uint64_t kOther = ' ';      // what an ASCII character other than a letter folds to
constexpr uint64_t kAnyLetter = 'A';  // the pairs of any ASCII letter, for letters seen too little
// How many counts of the letters after any character above ASCII stand behind the letters
// after one character: its own counts outweigh them once it has been seen a few times.
constexpr double kNextPrior = 2.0;
constexpr float kNoPair = -1.0f;  // while building: a language has no counts for a pair
// How many counts of the neighbours of a category (or character) stand behind those of one
// character (or category): one seen a hundred times keeps little of them.
constexpr double kShapePrior = 2.0;
constexpr size_t kShapeKinds = 3;                      // letter, blank, other
constexpr size_t kShapes = kShapeKinds * kShapeKinds;  // what stands before and after

bool ascii_letter(char32_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// An ASCII letter in lower case, any other ASCII character as a blank.
uint64_t fold(char32_t c) {
  if (c >= 0x80) return c;
  return ascii_letter(c) ? (c | 0x20) : kOther;
}

size_t kind_of(char32_t c) {
  if (c >= 0x80) return 2;
  return ascii_letter(c) ? 0 : 1;
}

uint64_t next_key(char32_t c, uint64_t letter) { return uint64_t{c} << 8 | letter; }

uint64_t pair_key(uint64_t prev, char32_t c) { return prev << 21 | c; }

// One UTF-8 character making up all of `field`; 0 when it is not exactly one.
char32_t one_char(std::string_view field) {
  if (field.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(field[0]);
  size_t len = b0 < 0x80 ? 1 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 ? 2 : 0;
  if (len == 0 || field.size() != len) return 0;
  char32_t c = len == 1 ? b0 : b0 & (0x3F >> (len - 1));
  for (size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(field[i]);
    if ((b & 0xC0) != 0x80) return 0;
    c = c << 6 | (b & 0x3F);
  }
  return c;
}

// Two-letter Unicode general categories in the order of ICU's UCharCategory.
constexpr const char* kCategories[] = {"Cn", "Lu", "Ll", "Lt", "Lm", "Lo", "Mn", "Me", "Mc", "Nd",
                                       "Nl", "No", "Zs", "Zl", "Zp", "Cc", "Cf", "Co", "Cs", "Pd",
                                       "Ps", "Pe", "Pc", "Po", "Sm", "Sc", "Sk", "So", "Pi", "Pf"};
constexpr size_t kCategoryCount = std::size(kCategories);

size_t category_of(char32_t c) {
  const auto t = static_cast<size_t>(u_charType(static_cast<UChar32>(c)));
  return t < kCategoryCount ? t : 0;
}

// Punctuation (Pd .. Pf), shared by the languages of a script. Important: not symbols, whose
// choice (€ against ¤, ¨, ´) is what tells the Latin encodings apart.
bool is_punctuation(size_t category) { return kCategories[category][0] == 'P'; }

// shape_of() for a character above ASCII of `category`.
size_t shape_of_category(size_t category) {
  const char major = kCategories[category][0];
  if (major == 'L' || major == 'M') return 0;
  return major == 'Z' ? 1 : 2;
}

// What stands beside a character, as the script counts it: 0 a letter or combining mark of any
// script, 1 a blank or the text's edge, 2 anything else.
size_t shape_of(char32_t c) {
  if (c < 0x80) {
    if (ascii_letter(c)) return 0;
    return c == ' ' || (c >= '\t' && c <= '\r') ? 1 : 2;
  }
  return shape_of_category(category_of(c));
}

// How many code points above ASCII in the BMP each category holds.
const std::vector<double>& category_sizes() {
  static const std::vector<double> sizes = [] {
    std::vector<double> n(kCategoryCount, 0.0);
    for (char32_t c = 0x80; c < 0x10000; ++c) n[category_of(c)] += 1;
    return n;
  }();
  return sizes;
}

std::vector<std::string_view> split(std::string_view line, char sep) {
  std::vector<std::string_view> out;
  out.reserve(16);  // a record's fields in one allocation
  size_t start = 0;
  while (true) {
    const size_t at = line.find(sep, start);
    out.push_back(line.substr(start, at - start));
    if (at == std::string_view::npos) return out;
    start = at + 1;
  }
}

bool count_of(std::string_view field, double& out) {
  uint64_t n = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), n);
  if (ec != std::errc() || end != field.data() + field.size()) return false;
  out = static_cast<double>(n);
  return true;
}

}  // namespace

// Collects the counts, then turns them into log-probability tables.
struct ModelBuilder {
  struct Lang {
    double chars = 0;
    double steps[9] = {};  // aa as ah sa ss sh ha hs hh
    double categories[kCategoryCount] = {};
    std::vector<std::pair<char32_t, double>> uni;
    std::vector<std::tuple<uint64_t, char32_t, double>> bi;
    std::vector<std::tuple<char32_t, uint64_t, double>> next;  // (character, letter after it)
  };
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> encodings;
  std::vector<Lang> langs;
  double shapes[kCategoryCount][kShapes] = {};  // every language pooled
  std::vector<std::pair<char32_t, std::array<double, kShapes>>> mark_shapes;  // not letters
  size_t last_ = 0;  // the language of the last record

  std::string add_line(std::string_view line) {
    const std::vector<std::string_view> f = split(line, '\t');
    if (f[0] == "L") return add_language(f);
    if (f[0] == "S") return add_shape(f);
    if (f[0] == "T") return add_mark_shape(f);
    if (f.size() < 2) return "a record of unknown kind";
    // A language's records come together: its name is most often the last line's.
    if (last_ >= names.size() || names[last_] != f[1]) {
      const auto it = std::find(names.begin(), names.end(), f[1]);
      if (it == names.end()) return "language \"" + std::string(f[1]) + "\" not declared before";
      last_ = static_cast<size_t>(it - names.begin());
    }
    Lang& lang = langs[last_];
    double n = 0;
    if (f[0] == "C" && f.size() == 4) {
      const auto* end = std::end(kCategories);
      const auto* at = std::find_if(std::begin(kCategories), end,
                                    [&](const char* name) { return f[2] == name; });
      if (at == end || !count_of(f[3], n)) return "a category record needs a category and a count";
      lang.categories[static_cast<size_t>(at - std::begin(kCategories))] = n;
      return "";
    }
    if (f[0] == "U" && f.size() == 4) {
      const char32_t c = one_char(f[2]);
      if (c < 0x80 || !count_of(f[3], n))
        return "a character record needs one character and a count";
      lang.uni.emplace_back(c, n);
      return "";
    }
    if (f[0] == "B" && f.size() == 5) {
      const char32_t p = one_char(f[2]), c = one_char(f[3]);
      const bool prev_ok = p >= 0x80 || (p >= 'a' && p <= 'z') || p == kOther || p == kAnyLetter;
      if (!prev_ok || c < 0x80 || !count_of(f[4], n))
        return "a pair record needs two characters and a count";
      lang.bi.emplace_back(p, c, n);
      return "";
    }
    if (f[0] == "N" && f.size() == 5) {
      const char32_t c = one_char(f[2]), x = one_char(f[3]);
      if (c < 0x80 || x < 'a' || x > 'z' || !count_of(f[4], n))
        return "a record of a letter after a character needs both and a count";
      lang.next.emplace_back(c, x, n);
      return "";
    }
    return "a record of unknown kind or with a wrong number of fields";
  }

  std::string add_shape(const std::vector<std::string_view>& f) {
    const auto* end = std::end(kCategories);
    const auto* at = f.size() == 2 + kShapes
                         ? std::find_if(std::begin(kCategories), end,
                                        [&](const char* name) { return f[1] == name; })
                         : end;
    if (at == end) return "a shape record needs a category and 9 counts";
    double* row = shapes[at - std::begin(kCategories)];
    for (size_t i = 0; i < kShapes; ++i)
      if (!count_of(f[2 + i], row[i])) return "a shape record needs a category and 9 counts";
    return "";
  }

  std::string add_mark_shape(const std::vector<std::string_view>& f) {
    const char32_t c = f.size() == 2 + kShapes ? one_char(f[1]) : 0;
    std::array<double, kShapes> row{};
    bool ok = c >= 0x80;
    for (size_t i = 0; ok && i < kShapes; ++i) ok = count_of(f[2 + i], row[i]);
    if (!ok) return "a character's shape record needs one character above ASCII and 9 counts";
    // Important: a character this ICU calls a letter is left out, not refused: letters score 0,
    // and the script's Unicode may class a character otherwise than the ICU that runs.
    const char major = kCategories[category_of(c)][0];
    if (major != 'L' && major != 'M') mark_shapes.emplace_back(c, row);
    return "";
  }

  std::string add_language(const std::vector<std::string_view>& f) {
    if (f.size() != 13) return "a language record needs 13 fields";
    if (names.size() == kMaxLanguages) return "more than 32 languages";
    Lang lang;
    bool counts = count_of(f[3], lang.chars) && lang.chars > 0;
    for (size_t i = 0; i < 9; ++i) counts = counts && count_of(f[4 + i], lang.steps[i]);
    if (!counts) return "a language record needs counts, the first above 0";
    if (f[1].empty() || std::find(names.begin(), names.end(), f[1]) != names.end())
      return "a language named twice or not at all";
    names.emplace_back(f[1]);
    std::vector<std::string> list;
    for (std::string_view e : split(f[2], ',')) list.push_back(canonical_name(e));
    encodings.push_back(std::move(list));
    langs.push_back(std::move(lang));
    return "";
  }

  static std::shared_ptr<LangModel::Table> make_table(size_t entries, size_t stride) {
    auto t = std::make_shared<LangModel::Table>();
    size_t size = 16;
    while (size < entries * 2) size *= 2;
    t->keys.assign(size, LangModel::Table::kEmpty);
    t->rows.assign(size, 0);
    t->stride = stride;
    return t;
  }

  // The row of `key`, made (filled with `fill`) when new.
  static float* row(LangModel::Table& t, uint64_t key, const std::vector<float>& fill) {
    const size_t mask = t.keys.size() - 1;
    size_t i = LangModel::Table::slot(key, mask);
    while (t.keys[i] != key && t.keys[i] != LangModel::Table::kEmpty) i = (i + 1) & mask;
    if (t.keys[i] == LangModel::Table::kEmpty) {
      t.keys[i] = key;
      t.rows[i] = static_cast<uint32_t>(t.values.size() / t.stride);
      t.values.insert(t.values.end(), fill.begin(), fill.end());
    }
    return &t.values[t.rows[i] * t.stride];
  }

  // Rows of log(P(letter | character) / P(letter | any character)) for the ASCII letter after
  // a character above ASCII, the character's own counts smoothed towards all of them; the
  // key with letter 0 holds the value for a letter never seen after it. 0 where a language
  // has no counts for the character.
  std::shared_ptr<LangModel::Table> build_nexts(size_t n) {
    size_t entries = 0;
    std::vector<std::unordered_map<char32_t, double>> after(n);  // letters after a character
    std::vector<std::array<double, 128>> letters(n);             // letters after any of them
    std::vector<double> all(n, 0.0);
    for (size_t l = 0; l < n; ++l) {
      letters[l].fill(0.0);
      for (const auto& [c, x, count] : langs[l].next) {
        after[l][c] += count;
        letters[l][x] += count, all[l] += count;
      }
      entries += langs[l].next.size() + after[l].size();
    }
    auto t = make_table(entries, n);
    auto never_seen = [&](char32_t c) {
      std::vector<float> v(n, 0.0f);
      for (size_t l = 0; l < n; ++l)
        if (const auto it = after[l].find(c); it != after[l].end())
          v[l] = static_cast<float>(std::log(kNextPrior / (it->second + kNextPrior)));
      return v;
    };
    for (size_t l = 0; l < n; ++l) {
      for (const auto& [c, total] : after[l]) row(*t, next_key(c, 0), never_seen(c));
      for (const auto& [c, x, count] : langs[l].next) {
        const double q = letters[l][x] / all[l];
        const double p = (count + kNextPrior * q) / (after[l][c] + kNextPrior);
        row(*t, next_key(c, x), never_seen(c))[l] = static_cast<float>(std::log(p / q));
      }
    }
    return t;
  }

  // Punctuation belongs to no one language: a mark a language saw too rarely to know
  // (a Greek ’, counted 6 times) backs off to the language's share of its category times the
  // character's share of that category pooled over every language; never below its own count.
  // Important: letters keep their own language's counts, they are what tells languages apart.
  void pool_punctuation(LangModel::Table& uni, const std::vector<float>& unseen) {
    const size_t n = names.size();
    std::unordered_map<char32_t, double> pooled;
    std::vector<double> pooled_category(kCategoryCount, 0.0);
    for (const Lang& lang : langs) {
      for (const auto& [c, count] : lang.uni)
        if (is_punctuation(category_of(c))) pooled[c] += count;
      for (size_t k = 0; k < kCategoryCount; ++k) pooled_category[k] += lang.categories[k];
    }
    std::vector<float> fill(n);
    for (const auto& [c, total] : pooled) {
      const size_t k = category_of(c);
      if (pooled_category[k] <= 0) continue;
      for (size_t o = 0; o < n; ++o) fill[o] = unseen[o * kCategoryCount + k];
      float* r = row(uni, c, fill);
      for (size_t l = 0; l < n; ++l) {
        const double share = (langs[l].categories[k] + 0.5) / (langs[l].chars + 15.0);
        const double backoff = std::log(share * std::min(1.0, total / pooled_category[k]));
        r[l] = std::max(r[l], static_cast<float>(backoff));
      }
    }
  }

  // For characters that are not letters: log(P(neighbours | it) / P(neighbours | any character
  // above ASCII)), per category into model.shapes_ (smoothed towards every character's) and
  // per character into model.mark_shapes_ (smoothed towards its category's). All 0 without
  // shape records.
  // Important: letters and combining marks score 0. How they sit is each language's business
  // (Thai and Chinese write no blanks): pooled, a Thai letter before a full stop looks odd.
  void build_shapes(LangModel& model) const {
    model.shapes_.assign(kCategoryCount * kShapes, 0.0f);
    auto marks = make_table(mark_shapes.size(), kShapes);
    model.mark_shapes_ = marks;
    double pooled[kShapes] = {}, all = 0;
    for (const auto& counts : shapes)
      for (size_t i = 0; i < kShapes; ++i) pooled[i] += counts[i], all += counts[i];
    if (all <= 0) return;
    double q[kShapes], by_category[kCategoryCount][kShapes];
    for (size_t i = 0; i < kShapes; ++i) q[i] = (pooled[i] + 0.5) / (all + 0.5 * kShapes);
    const auto smooth = [](const double* counts, const double* prior, double* out) {
      double seen = 0;
      for (size_t i = 0; i < kShapes; ++i) seen += counts[i];
      for (size_t i = 0; i < kShapes; ++i)
        out[i] = (counts[i] + kShapePrior * prior[i]) / (seen + kShapePrior);
    };
    for (size_t k = 0; k < kCategoryCount; ++k) {
      smooth(shapes[k], q, by_category[k]);
      if (shape_of_category(k) == 0) continue;
      for (size_t i = 0; i < kShapes; ++i)
        model.shapes_[k * kShapes + i] = static_cast<float>(std::log(by_category[k][i] / q[i]));
    }
    const std::vector<float> zero(kShapes, 0.0f);
    for (const auto& [c, counts] : mark_shapes) {
      double p[kShapes];
      smooth(counts.data(), by_category[category_of(c)], p);
      float* r = row(*marks, c, zero);
      for (size_t i = 0; i < kShapes; ++i) r[i] = static_cast<float>(std::log(p[i] / q[i]));
    }
  }

  std::shared_ptr<const LangModel> build() {
    const size_t n = names.size();
    auto model = std::make_shared<LangModel>();
    model->names_ = names;
    model->encodings_ = encodings;
    build_shapes(*model);
    size_t uni_entries = 0, bi_entries = 0;
    for (const Lang& l : langs) uni_entries += l.uni.size(), bi_entries += l.bi.size();
    auto uni = make_table(uni_entries, n), bi = make_table(bi_entries, n);
    // A character never seen: half a count, or less when its category is rare in the
    // language (a ½ in French text), spread over the category's code points.
    model->unseen_.assign(n * kCategoryCount, 0.0f);
    for (size_t l = 0; l < n; ++l) {
      const double half = std::log(0.5 / langs[l].chars);
      for (size_t k = 0; k < kCategoryCount; ++k) {
        const double share = (langs[l].categories[k] + 0.5) / (langs[l].chars + 15.0);
        const double spread = std::log(share / std::max(1.0, category_sizes()[k]));
        model->unseen_[l * kCategoryCount + k] = static_cast<float>(std::min(half, spread));
      }
    }
    // Characters above ASCII among themselves.
    std::vector<float> fill(n);
    for (size_t l = 0; l < n; ++l) {
      for (const auto& [c, count] : langs[l].uni) {
        for (size_t o = 0; o < n; ++o)
          fill[o] = model->unseen_[o * kCategoryCount + category_of(c)];
        row(*uni, c, fill)[l] = static_cast<float>(std::log(count / langs[l].chars));
      }
    }
    pool_punctuation(*uni, model->unseen_);
    // P(c) per language, each exp taken once: the pairs below ask for it some 400,000 times.
    std::vector<double> uni_exp(uni->values.size()), unseen_exp(model->unseen_.size());
    for (size_t i = 0; i < uni_exp.size(); ++i) uni_exp[i] = std::exp(double{uni->values[i]});
    for (size_t i = 0; i < unseen_exp.size(); ++i)
      unseen_exp[i] = std::exp(double{model->unseen_[i]});
    // Row of P(c) for every language: its row in the table, else the unseen ones of its category
    // (stride kCategoryCount).
    auto uni_row = [&](char32_t c, size_t& stride) {
      if (const float* r = uni->find(c)) {
        stride = 1;
        return &uni_exp[static_cast<size_t>(r - uni->values.data())];
      }
      stride = kCategoryCount;
      return &unseen_exp[category_of(c)];
    };
    auto uni_p = [&](char32_t c, size_t l) {
      size_t stride = 0;
      return uni_row(c, stride)[l * stride];
    };
    // Pairs: the character after its predecessor among the characters above ASCII that follow
    // it, mixed with the character alone. kNoPair marks a language without counts for a pair.
    std::vector<float> no_pair(n, kNoPair);
    for (size_t l = 0; l < n; ++l) {
      const double* st = langs[l].steps;
      const double after_high = (st[8] + 0.5) / (st[6] + st[7] + st[8] + 1.5);
      // How often each ASCII letter comes before a character above ASCII.
      double before_high[128] = {};
      for (const auto& [p, c, count] : langs[l].bi)
        if (p < 0x80) before_high[p] += count;
      for (const auto& [p, c, count] : langs[l].bi) {
        double context = p == kOther       ? st[5]
                         : p == kAnyLetter ? st[2]
                         : p < 0x80        ? before_high[p]
                                           : 0;
        if (p >= 0x80) context = uni_p(static_cast<char32_t>(p), l) * langs[l].chars * after_high;
        float* r = row(*bi, pair_key(p, c), no_pair);
        r[l] = static_cast<float>(count / std::max(context, count));
      }
    }
    // Rows hold log(share * P(c | prev) + (1 - share) * P(c)) for every language.
    // Important: a row exists when any language counted the pair; a language that did not
    // backs off as the scorer does where no row exists: an ASCII letter to "any ASCII letter"
    // (else a Greek ’ after "r", a pair only other languages counted, is scored as if ’ never
    // came after a letter, and the CP1253 reading Ά wins).
    std::vector<float> logs(bi->values.size());
    for (size_t i = 0; i < bi->keys.size(); ++i) {
      if (bi->keys[i] == LangModel::Table::kEmpty) continue;
      const uint64_t prev = bi->keys[i] >> 21;
      const auto c = static_cast<char32_t>(bi->keys[i] & 0x1FFFFF);
      const bool letter = prev < 0x80 && prev != kOther && prev != kAnyLetter;
      const float* any = letter ? bi->find(pair_key(kAnyLetter, c)) : nullptr;
      size_t stride = 0;
      const double* p = uni_row(c, stride);
      const size_t at = bi->rows[i] * n;
      for (size_t l = 0; l < n; ++l) {
        double share = bi->values[at + l];
        if (share == kNoPair) share = any && any[l] != kNoPair ? static_cast<double>(any[l]) : 0.0;
        logs[at + l] =
            static_cast<float>(std::log(kBigramShare * share + (1 - kBigramShare) * p[l * stride]));
      }
    }
    bi->values = std::move(logs);
    // What kind of character (ASCII letter, other ASCII, above ASCII) stands before and
    // after one above ASCII. Important: given that character, not how often such characters
    // come: the evidence excerpt keeps little ASCII, so densities would mislead.
    model->steps_.assign(n * 6, 0.0f);
    for (size_t l = 0; l < n; ++l) {
      const double* st = langs[l].steps;
      const double into = st[2] + st[5] + st[8] + 1.5, out = st[6] + st[7] + st[8] + 1.5;
      for (size_t k = 0; k < 3; ++k) {
        model->steps_[l * 6 + k] = static_cast<float>(std::log((st[k * 3 + 2] + 0.5) / into));
        model->steps_[l * 6 + 3 + k] = static_cast<float>(std::log((st[6 + k] + 0.5) / out));
      }
    }
    // How likely a word after a blank is of ASCII letters, against the median language (no
    // more than that): a Russian reading of Italian text ("non и un repository Git") pays for
    // its ASCII words, a German one does not.
    model->word_start_.assign(n, 0.0f);
    for (size_t l = 0; l < n; ++l) {
      const double* st = langs[l].steps;  // st[3..5]: blank then ASCII letter, blank, above
      model->word_start_[l] =
          static_cast<float>(std::log((st[3] + 0.5) / (st[3] + st[4] + st[5] + 1.5)));
    }
    std::vector<float> sorted = model->word_start_;
    std::sort(sorted.begin(), sorted.end());
    const float median = sorted.empty() ? 0.0f : sorted[sorted.size() / 2];
    for (float& w : model->word_start_) w = std::min(0.0f, w - median);
    model->unigrams_ = std::move(uni);
    model->bigrams_ = std::move(bi);
    model->nexts_ = build_nexts(n);
    return model;
  }
};

LangModel::Loaded LangModel::parse(std::string_view tsv) {
  ModelBuilder builder;
  size_t number = 0;
  bool header = false;
  for (std::string_view line : split(tsv, '\n')) {
    ++number;
    if (line.empty()) continue;
    std::string error;
    if (!header) {
      header = line == "ouzel-lang-model 2";
      if (!header) error = "not a language model (the first line must be \"ouzel-lang-model 2\")";
    } else {
      error = builder.add_line(line);
    }
    if (!error.empty()) return {nullptr, "line " + std::to_string(number) + ": " + error};
  }
  if (builder.names.empty()) return {nullptr, "no language in the model"};
  for (size_t l = 0; l < builder.names.size(); ++l)
    if (builder.langs[l].uni.empty())
      return {nullptr, "language " + builder.names[l] + " has no character counts"};
  return {builder.build(), ""};
}

int LangModel::language_index(std::string_view name) const {
  const auto it = std::find(names_.begin(), names_.end(), name);
  return it == names_.end() ? -1 : static_cast<int>(it - names_.begin());
}

uint32_t LangModel::served_by(std::string_view encoding) const {
  if (const uint32_t own = written_in(encoding)) return own;
  const std::string name = canonical_name(encoding);
  const auto& every = every_encoding();
  if (std::find(every.begin(), every.end(), name) == every.end()) return 0;
  // Important: an encoding no language is counted in (ISO-8859-10, EBCDIC Hebrew) is weighed
  // by every language written in its script, so its readings compare with the others'.
  const Family family = family_of(name);
  uint32_t mask = 0;
  for (size_t l = 0; l < encodings_.size(); ++l)
    for (const std::string& e : encodings_[l])
      if (family_of(e) == family) mask |= uint32_t{1} << l;
  return mask;
}

uint32_t LangModel::written_in(std::string_view encoding) const {
  const std::string name = canonical_name(encoding);
  const Preset* preset = preset_of(name);
  uint32_t mask = 0;
  for (size_t l = 0; l < encodings_.size(); ++l) {
    for (const std::string& e : encodings_[l]) {
      if (e == name || (preset && preset == preset_of(e))) mask |= uint32_t{1} << l;
    }
  }
  return mask;
}

size_t LangModel::score(std::u32string_view text, uint32_t mask, int bytes_per_char,
                        double* totals) const {
  const size_t n = names_.size();
  if (n < 32) mask &= (uint32_t{1} << n) - 1;  // bits of languages the model lacks
  const double base = bytes_per_char * std::log(128.0);
  const double alone = std::log(1 - kBigramShare);
  size_t chars = 0;
  uint64_t prev = kOther;
  size_t prev_kind = 1;
  size_t prev_shape = 1;
  double shape = 0;  // the same for every language
  bool prev_upper = false, prev_lower = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t raw = text[i];
    // Important: ICU's case look-ups only above ASCII; this loop sees every character.
    const bool upper =
        raw < 0x80 ? (raw >= 'A' && raw <= 'Z') : u_isupper(static_cast<UChar32>(raw));
    const size_t kind = kind_of(raw);
    size_t here = kind == 2 ? 0 : shape_of(raw);
    // Important: a word in capitals (ЗАКОН) is read as its letters; the counts come from
    // text in ordinary case, where such pairs are rare.
    const auto upper_at = [&text](size_t k) {
      const char32_t c = text[k];
      return c < 0x80 ? (c >= 'A' && c <= 'Z') : u_isupper(static_cast<UChar32>(c));
    };
    const bool in_caps =
        kind == 2 && upper && (prev_upper || (i + 1 < text.size() && upper_at(i + 1)));
    const char32_t c = in_caps ? static_cast<char32_t>(u_tolower(static_cast<UChar32>(raw))) : raw;
    if (in_caps && prev >= 0x80 && prev != kOther && prev != kAnyLetter)
      prev = static_cast<uint64_t>(u_tolower(static_cast<UChar32>(prev)));
    if (kind == 2) {
      ++chars;
      // A capital inside a word of small letters (gehtŽs) is no writing.
      if (upper && !in_caps && prev_lower) shape += kCaseJump;
      const float* pair = bigrams_->find(pair_key(prev, c));
      if (!pair && prev < 0x80 && prev != kOther) pair = bigrams_->find(pair_key(kAnyLetter, c));
      const float* single = pair ? nullptr : unigrams_->find(c);
      // Important: a character no language ever showed (ẃ, read through ISO-8859-14, where
      // CP1252 has º) is less likely than the one a language shows rarely.
      if (!pair && !single && bytes_per_char == 1) shape += kNeverSeen;
      const size_t category = category_of(c);
      here = shape_of_category(category);
      if (here != 0) {  // a letter's shape is 0
        const size_t next_shape = i + 1 < text.size() ? shape_of(text[i + 1]) : 1;
        const float* own = mark_shapes_->find(c);
        shape += (own ? own : &shapes_[category * kShapes])[prev_shape * kShapeKinds + next_shape];
      }
      // The ASCII letter after it, where one follows: how typical that letter is after it.
      const float* after = nullptr;
      if (i + 1 < text.size() && ascii_letter(text[i + 1])) {
        after = nexts_->find(next_key(c, fold(text[i + 1])));
        if (!after) after = nexts_->find(next_key(c, 0));
      }
      for (uint32_t m = mask; m != 0; m &= m - 1) {
        const auto l = static_cast<size_t>(std::countr_zero(m));
        const double lp =
            pair ? pair[l] : (single ? single[l] : unseen_[l * kCategoryCount + category]) + alone;
        totals[l] += steps_[l * 6 + prev_kind] + lp + base + (after ? after[l] : 0.0f);
      }
    }
    if (prev_kind == 2) {
      for (uint32_t m = mask; m != 0; m &= m - 1)
        totals[std::countr_zero(m)] +=
            steps_[static_cast<size_t>(std::countr_zero(m)) * 6 + 3 + kind];
    }
    prev = fold(raw);
    prev_upper = upper;
    prev_lower =
        raw < 0x80 ? (raw >= 'a' && raw <= 'z') : u_islower(static_cast<UChar32>(raw)) != 0;
    prev_kind = kind;
    prev_shape = here;
  }
  for (uint32_t m = mask; m != 0; m &= m - 1) totals[std::countr_zero(m)] += shape;
  return chars;
}

const LangModel& lang_model() {
  static std::shared_ptr<const LangModel> model;
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string_view data(reinterpret_cast<const char*>(lang_model_data), lang_model_size);
    LangModel::Loaded loaded = LangModel::parse(data);
    if (!loaded.model) {
      std::fprintf(stderr, "ouzel: the built-in language statistics are damaged (%s)\n",
                   loaded.error.c_str());
      std::abort();
    }
    model = std::move(loaded.model);
  });
  return *model;
}

double best_language_points(std::u32string_view text, double* chars, std::string* language) {
  const LangModel& m = lang_model();
  // Important: served_by() compares names; once per process, not per call.
  static const uint32_t wide = [&m] {
    uint32_t mask = 0;
    for (const char* name : {"GBK", "BIG5", "CP932", "CP949"}) mask |= m.served_by(name);
    return mask;
  }();
  const uint32_t all = m.languages() >= 32 ? ~uint32_t{0} : (uint32_t{1} << m.languages()) - 1;
  double totals[kMaxLanguages] = {};
  const size_t n = m.score(text, wide, 2, totals);
  m.score(text, all & ~wide, 1, totals);
  if (chars) *chars = static_cast<double>(n);
  size_t best = 0;
  for (size_t l = 1; l < m.languages(); ++l)
    if (totals[l] > totals[best]) best = l;
  if (language) *language = m.language(best);
  return totals[best];
}

double language_points(std::u32string_view text, std::string_view encoding, double* chars,
                       std::string* language) {
  const LangModel& m = lang_model();
  // Important: the languages of an encoding take name comparisons to find; a caller scoring
  // many texts asks for the same few encodings, so each thread keeps what it found.
  struct Served {
    uint32_t mask;
    bool wide;
  };
  thread_local std::unordered_map<std::string, Served> known;
  auto it = known.find(std::string(encoding));
  if (it == known.end()) {
    const Family f = family_of(canonical_name(encoding));
    const bool wide_family =
        f == Family::gb || f == Family::big5 || f == Family::japanese || f == Family::korean;
    it = known.emplace(std::string(encoding), Served{m.served_by(encoding), wide_family}).first;
  }
  const uint32_t mask = it->second.mask;
  const bool wide = it->second.wide;
  double totals[kMaxLanguages] = {};
  const size_t n = mask ? m.score(text, mask, wide ? 2 : 1, totals) : 0;
  if (chars) *chars = static_cast<double>(n);
  double best = 0;
  int best_l = -1;
  for (size_t l = 0; l < m.languages(); ++l) {
    if ((mask >> l & 1) && (best_l < 0 || totals[l] > best))
      best = totals[l], best_l = static_cast<int>(l);
  }
  if (language) *language = best_l >= 0 ? m.language(static_cast<size_t>(best_l)) : "";
  return best_l >= 0 ? best : 0;
}

}  // namespace detect
