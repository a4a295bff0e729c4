// Reads the labelled corpus (labels.tsv, the files and their texts), building it on request.
#include "labelled_corpus.h"

#include <iconv.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "detect/detect.h"

namespace labelled {

namespace {

bool read_all(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> cells;
  size_t at = 0;
  for (;;) {
    const size_t tab = line.find('\t', at);
    cells.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
    if (tab == std::string::npos) return cells;
    at = tab + 1;
  }
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool run_builder(const std::string& dir, const std::string& size, std::string* error) {
  const std::string cmd = "python3 " +
                          quoted(std::string(OUZEL_SOURCE_DIR) + "/scripts/detect_corpus.py") +
                          " --out " + quoted(dir) + " --half both --size " + quoted(size);
  if (std::system(cmd.c_str()) != 0) {
    *error = "building the corpus failed: " + cmd;
    return false;
  }
  return true;
}

}  // namespace

std::vector<File> load(const std::string& dir, const std::string& half, const std::string& size,
                       bool build, std::string* error) {
  std::vector<File> files;
  if (build && !run_builder(dir, size, error)) return files;
  std::string labels;
  if (!read_all(dir + "/labels.tsv", &labels)) {
    *error = "no corpus in " + dir + " (labels.tsv missing; build it with --build)";
    return files;
  }
  std::istringstream lines(labels);
  std::string line;
  std::getline(lines, line);
  if (line != "path\tencoding\tlanguage\tclass\tkind\tsource\thalf") {
    *error = dir + "/labels.tsv: unexpected header \"" + line + "\"";
    return files;
  }
  while (std::getline(lines, line)) {
    const std::vector<std::string> c = split_tabs(line);
    if (c.size() != 7) {
      *error = dir + "/labels.tsv: a row without 7 columns: " + line;
      return {};
    }
    if (c[6] != half) continue;
    File f{c[0], c[1], c[2], c[3], c[4], c[5], c[6], {}, {}};
    if (!read_all(dir + "/" + f.path, &f.bytes) || !read_all(dir + "/text/" + f.path, &f.text)) {
      *error = "cannot read " + dir + "/" + f.path + " or its text";
      return {};
    }
    files.push_back(std::move(f));
  }
  if (files.empty()) *error = "no " + half + " files in " + dir;
  return files;
}

std::string preset_of_language(const std::string& language) {
  static const std::map<std::string, std::string> presets = {
      {"zh_CN", "Chinese"},
      {"zh_TW", "Chinese"},
      {"ja", "Japanese"},
      {"ko", "Korean"},
      {"ru", "Cyrillic"},
      {"uk", "Cyrillic"},
      {"el", "Greek"},
      {"de", "Western"},
      {"fr", "Western"},
      {"es", "Western"},
      {"pt", "Western"},
      {"it", "Western"},
      {"en", "Western"},
      {"pl", "Central European"},
      {"cs", "Central European"},
      {"hu", "Central European"},
      {"tr", "Turkish"},
      {"he", "Hebrew"},
      {"ar", "Arabic"},
      {"th", "Thai"},
      {"vi", "Vietnamese"},
      {"lt", "Baltic"},
      {"lv", "Baltic"},
  };
  const auto it = presets.find(language);
  return it == presets.end() ? "Western" : it->second;
}

bool decode(const std::string& bytes, const std::string& encoding, std::string* text) {
  text->clear();
  if (encoding.empty()) return false;
  iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(bytes.size() * 4 + 64, '\0');
  char* ip = const_cast<char*>(bytes.data());
  size_t il = bytes.size();
  char* op = out.data();
  size_t ol = out.size();
  const bool done = ::iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && il == 0 &&
                    ::iconv(cd, nullptr, nullptr, &op, &ol) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  out.resize(out.size() - ol);
  *text = std::move(out);
  return done;
}

}  // namespace labelled

namespace labelled {

std::string own_preset(const File& file) {
  const detect::Preset* p = detect::preset_of(file.encoding);
  return p ? p->name : preset_of_language(file.language);
}

std::vector<std::string> outside_candidates(const File& file) {
  if (file.encoding == "UTF-8" || file.encoding == "ASCII") return {};
  const std::string language_preset = preset_of_language(file.language);
  if (own_preset(file) != language_preset) return {language_preset};
  if (language_preset == "Western" || language_preset == "Central European")
    return {"Cyrillic", "Greek"};
  return {"Western", "Central European"};
}

}  // namespace labelled
