// Per-language character statistics counted from real text (scripts/build_lang_model.py):
// how likely each decoding of a file is as writing of the languages its encoding serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace detect {

inline constexpr size_t kMaxLanguages = 32;  // a mask of served languages fits in 32 bits

class LangModel {
 public:
  struct Loaded;  // the model, or why it could not be read

  // Reads the tab-separated statistics; garbled or empty data gives an error naming the line.
  static Loaded parse(std::string_view tsv);

  size_t languages() const { return names_.size(); }
  const std::string& language(size_t i) const { return names_[i]; }
  int language_index(std::string_view name) const;  // -1 when unknown

  // The languages an encoding (canonical glibc name) is written in: those that list it, and
  // those that list an encoding of its detection preset; else every language written in an
  // encoding of its script family. 0 when the model knows none.
  uint32_t served_by(std::string_view encoding) const;
  // Only the languages that list it or an encoding of its preset; 0 for the others.
  uint32_t written_in(std::string_view encoding) const;

  // Adds to totals[l], for each language l in `mask`, the log-likelihood of every non-ASCII
  // character of `text` after its predecessor (an ASCII letter as itself), plus
  // `bytes_per_char` * ln 128 per character (what random bytes would score), so plausible text
  // is above 0 and misdecoded text below; how much likelier than usual the ASCII letter
  // after it is; and, for one that is not a letter, how typical what stands beside it is
  // (every language pooled: a quote between a bracket and a blank, not a capital letter).
  // Returns the count of non-ASCII characters.
  size_t score(std::u32string_view text, uint32_t mask, int bytes_per_char, double* totals) const;

  // Log-odds (0 or less) of a word of ASCII letters after a blank in language `l`, against
  // the median language.
  double ascii_word(size_t l) const { return word_start_[l]; }

 private:
  struct Table;  // open-addressing map from a 64-bit key to a row of per-language floats
  std::vector<std::string> names_;
  std::vector<std::vector<std::string>> encodings_;
  std::vector<float> unseen_;      // per language and category, log-probability of an unseen one
  std::vector<float> steps_;       // per language, log-probabilities of the kinds around one
  std::vector<float> word_start_;  // per language, see ascii_word()
  std::vector<float> shapes_;      // per category, log-odds of what stands on either side
  std::shared_ptr<const Table> unigrams_, bigrams_, nexts_;
  std::shared_ptr<const Table> mark_shapes_;  // per character not a letter, as shapes_
  friend struct ModelBuilder;
};

struct LangModel::Loaded {
  std::shared_ptr<const LangModel> model;  // null on failure
  std::string error;                       // "line 12: ..." on failure
};

// The statistics compiled into the program. Important: a built-in model that does not parse
// is a broken build; the first call reports it on stderr and aborts rather than detect with
// an empty model.
const LangModel& lang_model();

// How plausible decoded `text` is as writing in `encoding`: the best score (see score()) of
// the languages the encoding serves; `*chars` gets the count of non-ASCII characters and
// `*language` the best language's name. 0 with *chars 0 when the encoding serves none.
double language_points(std::u32string_view text, std::string_view encoding, double* chars = nullptr,
                       std::string* language = nullptr);

// The same for text of no stated encoding (a UTF-8 reading, a repaired text): the best of
// every language, a character of the Chinese, Japanese and Korean statistics counted as two
// bytes, any other as one.
double best_language_points(std::u32string_view text, double* chars = nullptr,
                            std::string* language = nullptr);

}  // namespace detect
