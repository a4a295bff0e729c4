// The labelled corpus for the detection benchmark: translated manual pages (and iso-codes
// names where no manual pages exist) in each legacy encoding of their language.
#pragma once

#include <string>
#include <vector>

namespace bench_detect {

struct Language {
  std::string code;    // "zh_CN", "ru", ...
  std::string preset;  // the preset a user would pick for it
  std::vector<std::string> encodings;
};

// The languages and the encodings each is written in.
const std::vector<Language>& languages();

// One labelled file of the corpus.
struct Sample {
  std::string language;
  std::string encoding;  // the truth
  std::string dir;       // relative folder
  std::string bytes;     // the content as a tree would hold it
};

enum class Size { page, line, tree };
const char* size_name(Size size);

// Builds (once) and loads the corpus under `dir`: every language in every encoding at `size`.
// Pages and lines whose encoded form is pure ASCII or valid UTF-8 are left out: the engine
// decides those before the statistics.
std::vector<Sample> load(const std::string& dir, Size size);

// `text` (UTF-8) in `encoding`, characters it cannot hold dropped, as `iconv -c` does.
std::string encode_dropping(const std::string& text, const std::string& encoding);

}  // namespace bench_detect
