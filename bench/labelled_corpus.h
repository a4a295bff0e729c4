// The labelled real-text corpus written by scripts/detect_corpus.py, read back for scoring.
#pragma once

#include <string>
#include <vector>

namespace labelled {

struct File {
  std::string path;  // relative to the corpus folder
  std::string encoding, language, size_class, kind, source, half;
  std::string bytes;  // the file as a tree holds it
  std::string text;   // its exact UTF-8 text
};

// The files of `half` ("held" or "tune") under `dir`. With `build`, the corpus is written
// there first by the script (`size` short or full). Empty, with *error set, on failure.
std::vector<File> load(const std::string& dir, const std::string& half, const std::string& size,
                       bool build, std::string* error);

// The preset a user would pick for the language ("Western" for the ASCII files).
std::string preset_of_language(const std::string& language);

// The preset that holds the file's encoding ("Mac Western" for MACINTOSH), else its language's.
std::string own_preset(const File& file);

// Candidates that lack the file's encoding, as a user may pick them wrongly: the language's
// own preset for an encoding it does not hold (MacRoman French with "Western"), else presets
// of other scripts ("Cyrillic, Greek" for Latin-script text, "Western, Central European" for
// the others). Empty for UTF-8 and ASCII files, which need no candidate.
std::vector<std::string> outside_candidates(const File& file);

// `bytes` decoded by glibc iconv from `encoding`; false unless all of it decodes.
bool decode(const std::string& bytes, const std::string& encoding, std::string* text);

}  // namespace labelled
