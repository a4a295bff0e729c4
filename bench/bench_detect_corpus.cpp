// Corpus making for bench_detect: text from the manual pages Debian translates, converted
// in-process with the characters an encoding lacks dropped.
#include "bench_detect_corpus.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "bench_corpus.h"

namespace fs = std::filesystem;

namespace bench_detect {
namespace {

constexpr size_t kPagesPerLanguage = 120;
constexpr size_t kLinesPerEncoding = 300;
constexpr size_t kTreeFiles = 120;  // per encoding: 4 folders of 30

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

bool valid_utf8(const std::string& s) {
  iconv_t cd = ::iconv_open("UTF-8", "UTF-8");
  std::string out(s.size() + 16, '\0');
  char* ip = const_cast<char*>(s.data());
  size_t il = s.size();
  char* op = out.data();
  size_t ol = out.size();
  const size_t r = ::iconv(cd, &ip, &il, &op, &ol);
  ::iconv_close(cd);
  return r != static_cast<size_t>(-1) && il == 0;
}

bool has_high(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Strings of the gettext catalogues of iso-codes: language, country and currency names.
std::string iso_codes_text(const std::string& lang) {
  std::string text;
  const std::string& root = bench_corpus::text_root();
  if (root.empty()) return text;
  for (const char* domain : {"iso_639-3", "iso_3166-1", "iso_3166-2", "iso_4217", "iso_15924"}) {
    std::ifstream in(root + "/usr/share/locale/" + lang + "/LC_MESSAGES/" + domain + ".mo",
                     std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string mo = ss.str();
    if (mo.size() < 28) continue;
    auto u32 = [&mo](size_t at) {
      uint32_t v = 0;
      if (at + 4 <= mo.size()) std::memcpy(&v, mo.data() + at, 4);
      return v;
    };
    const uint32_t count = u32(8), table = u32(16);
    for (uint32_t i = 1; i < count; ++i) {
      const uint32_t len = u32(table + i * 8), off = u32(table + i * 8 + 4);
      if (off + len > mo.size()) continue;
      text.append(mo, off, len);
      text += '\n';
    }
  }
  return text;
}

// Pages that list every character of a character set (iso_8859-2(7), koi8-r(7), ...): a
// table of all characters is no sample of a language, whatever its encoding.
bool charset_table(const std::string& name) {
  for (const char* prefix : {"iso_8859", "iso-8859", "iso8859", "latin", "koi8", "cp125", "armscii",
                             "charsets", "ascii", "utf-8", "utf8", "unicode"})
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
}

std::vector<std::string> page_texts(const Language& lang) {
  std::vector<std::string> pages;
  if (bench_corpus::text_root().empty()) return pages;
  const std::string dir = bench_corpus::text_root() + "/usr/share/man/" + lang.code;
  if (!fs::exists(dir)) {
    // No manual pages: cut the iso-codes names into page-sized pieces.
    const std::string all = iso_codes_text(lang.code);
    for (size_t at = 0; at < all.size() && pages.size() < kPagesPerLanguage;) {
      size_t end = all.find('\n', std::min(all.size(), at + 6000));
      if (end == std::string::npos) end = all.size();
      pages.push_back(all.substr(at, end - at));
      at = end + 1;
    }
    return pages;
  }
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    // Links are other names of a page already taken; character tables are not text.
    if (e.is_symlink() || !e.is_regular_file() || e.path().extension() != ".gz") continue;
    if (charset_table(e.path().filename().string())) continue;
    files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::mt19937 rng(7);
  std::shuffle(files.begin(), files.end(), rng);
  for (const std::string& f : files) {
    if (pages.size() >= kPagesPerLanguage) break;
    std::string text = run("zcat '" + f + "' 2>/dev/null");
    if (!valid_utf8(text) || !has_high(text)) continue;
    if (std::find(pages.begin(), pages.end(), text) != pages.end()) continue;
    pages.push_back(std::move(text));
  }
  return pages;
}

// Lines of a page that carry at least three non-ASCII bytes.
std::vector<std::string> text_lines(const std::string& page) {
  std::vector<std::string> lines;
  std::istringstream in(page);
  std::string line;
  while (std::getline(in, line)) {
    const auto high = std::count_if(line.begin(), line.end(),
                                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (high >= 3 && line.size() < 400) lines.push_back(line + "\n");
  }
  return lines;
}

// A short comment cut from a line: about `chars` characters around its first non-ASCII one.
std::string short_phrase(const std::string& line, size_t chars) {
  size_t at = 0;
  while (at < line.size() && static_cast<unsigned char>(line[at]) < 0x80) ++at;
  // Back to a word start for alphabetic scripts.
  size_t start = at;
  while (start > 0 && line[start - 1] != ' ' && at - start < 12) --start;
  size_t end = start, n = 0;
  while (end < line.size() && n < chars && line[end] != '\n') {
    const auto b = static_cast<unsigned char>(line[end]);
    end += b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    ++n;
  }
  return line.substr(start, std::min(end, line.size()) - start);
}

std::string cpp_file(const std::string& comment, size_t i) {
  return "#include <cstdio>\n\n// " + comment + "\nint f" + std::to_string(i) +
         "(int x) {\n  std::printf(\"%d\\n\", x);\n  return x * " + std::to_string(i % 7 + 1) +
         ";\n}\n";
}

void write(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(data.data(), static_cast<std::streamsize>(data.size()));
}

bool cjk(const std::string& code) {
  return code == "zh_CN" || code == "zh_TW" || code == "ja" || code == "ko";
}

void build(const fs::path& root, Size size) {
  const fs::path staging = root.string() + ".partial";
  fs::remove_all(staging);
  for (const Language& lang : languages()) {
    const std::vector<std::string> pages = page_texts(lang);
    std::vector<std::string> lines;
    for (const std::string& p : pages)
      for (std::string& l : text_lines(p)) lines.push_back(std::move(l));
    for (const std::string& enc : lang.encodings) {
      const fs::path base = staging / lang.code / enc;
      if (size == Size::page) {
        for (size_t i = 0; i < pages.size(); ++i)
          write(base / ("p" + std::to_string(i) + ".txt"), encode_dropping(pages[i], enc));
      } else if (size == Size::line) {
        for (size_t i = 0; i < lines.size() && i < kLinesPerEncoding; ++i)
          write(base / ("l" + std::to_string(i) + ".txt"), encode_dropping(lines[i], enc));
      } else {
        std::mt19937 rng(11);
        const size_t chars = cjk(lang.code) ? 5 : 24;
        for (size_t i = 0; i < kTreeFiles && !lines.empty(); ++i) {
          const std::string& line = lines[rng() % lines.size()];
          const std::string text = cpp_file(short_phrase(line, chars + rng() % 3), i);
          write(base / ("d" + std::to_string(i % 4)) / ("f" + std::to_string(i) + ".cpp"),
                encode_dropping(text, enc));
        }
      }
    }
  }
  fs::rename(staging, root);
}

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

const std::vector<Language>& languages() {
  static const std::vector<Language> list = {
      {"zh_CN", "Chinese", {"GB18030", "GBK"}},
      {"zh_TW", "Chinese", {"BIG5", "BIG5-HKSCS"}},
      {"ja", "Japanese", {"CP932", "EUC-JP", "SHIFT_JIS", "ISO-2022-JP"}},
      {"ko", "Korean", {"CP949", "EUC-KR"}},
      {"ru", "Cyrillic", {"CP1251", "KOI8-R", "CP866"}},
      {"uk", "Cyrillic", {"CP1251", "KOI8-U", "CP866"}},
      {"de", "Western", {"CP1252", "ISO-8859-15"}},
      {"fr", "Western", {"CP1252", "ISO-8859-15"}},
      {"es", "Western", {"CP1252", "ISO-8859-15"}},
      {"pl", "Central European", {"CP1250", "ISO-8859-2"}},
      {"cs", "Central European", {"CP1250", "ISO-8859-2"}},
      {"hu", "Central European", {"CP1250", "ISO-8859-2"}},
      {"el", "Greek", {"CP1253", "ISO-8859-7"}},
      {"tr", "Turkish", {"CP1254", "ISO-8859-9"}},
      {"he", "Hebrew", {"CP1255", "ISO-8859-8"}},
      {"ar", "Arabic", {"CP1256", "ISO-8859-6"}},
      {"th", "Thai", {"CP874", "TIS-620"}},
      {"vi", "Vietnamese", {"CP1258"}},
  };
  return list;
}

const char* size_name(Size size) {
  switch (size) {
    case Size::page:
      return "page";
    case Size::line:
      return "line";
    case Size::tree:
      return "tree";
  }
  return "?";
}

std::string encode_dropping(const std::string& text, const std::string& encoding) {
  iconv_t cd = ::iconv_open(encoding.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  std::string out(text.size() * 4 + 64, '\0');
  char* ip = const_cast<char*>(text.data());
  size_t il = text.size();
  char* op = out.data();
  size_t ol = out.size();
  while (il > 0) {
    if (::iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ) break;
    // Drop the character the encoding lacks, as iconv -c does.
    const auto b = static_cast<unsigned char>(*ip);
    const size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    const size_t skip = std::min(len, il);
    ip += skip;
    il -= skip;
  }
  ::iconv(cd, nullptr, nullptr, &op, &ol);
  ::iconv_close(cd);
  out.resize(out.size() - ol);
  return out;
}

std::vector<Sample> load(const std::string& dir, Size size) {
  const fs::path root = fs::path(dir) / "detect" / size_name(size);
  if (!fs::exists(root)) build(root, size);
  std::vector<Sample> out;
  std::vector<fs::path> paths;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  for (const fs::path& p : paths) {
    const fs::path rel = fs::relative(p, root);
    auto it = rel.begin();
    Sample s;
    s.language = (it++)->string();
    s.encoding = (it++)->string();
    s.dir = rel.parent_path().string();
    s.bytes = read(p);
    // What the engine decides before the statistics never reaches the detector.
    const bool escapes = s.bytes.find('\x1b') != std::string::npos;
    if (!has_high(s.bytes) && !escapes) continue;
    if (has_high(s.bytes) && valid_utf8(s.bytes)) continue;
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace bench_detect
