// Benchmark corpus from the translated manual pages and the C++ library's headers, converted
// with iconv.
#include "bench_corpus.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace bench_corpus {
namespace {

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

std::string repeat_to(const std::string& text, size_t bytes) {
  if (text.empty()) return text;
  std::string out;
  while (out.size() < bytes) out += text;
  size_t cut = out.rfind('\n', bytes);
  out.resize(cut == std::string::npos ? bytes : cut + 1);
  return out;
}

// Only lines that survive UTF-8 -> GBK, so both directions convert cleanly.
const std::string& base_utf8() {
  // iconv -c drops what GBK cannot hold, so the text converts cleanly both ways.
  // Important: with no root the pages would be the installed ones.
  static const std::string text =
      text_root().empty()
          ? std::string()
          : run("for f in '" + text_root() + "'/usr/share/man/zh_CN/man1/*.gz; do zcat \"$f\"; " +
                "done 2>/dev/null | head -c 4000000 | iconv -c -f UTF-8 -t GBK | " +
                "iconv -f GBK -t UTF-8");
  return text;
}

// The manual pages of `language` as groff source, UTF-8.
std::string man_pages(const std::string& language) {
  if (text_root().empty()) return {};
  return run("for f in '" + text_root() + "'/usr/share/man/" + language +
             "/man*/*.gz; do zcat \"$f\"; done 2>/dev/null | head -c 16000000");
}

// A line of groff source as the text it shows: requests dropped, font changes removed.
bool text_line(std::string& line) {
  if (line.empty() || line[0] == '.' || line[0] == '\'') return false;
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      out += line[i];
    } else if (line[i + 1] == 'f') {
      i += 2;  // \fB, \fI, \fR, \fP
    } else {
      out += line[i + 1] == 'e' ? '\\' : line[i + 1];
      ++i;
    }
  }
  line = out;
  return !line.empty();
}

// The lines of `text` that `encoding` writes, every character of them.
std::string writable(const std::string& text, const std::string& encoding) {
  const iconv_t to = ::iconv_open(encoding.c_str(), "UTF-8");
  if (to == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start), back(line.size() * 4 + 8, '\0');
    start = end;
    char* in = line.data();
    size_t in_left = line.size();
    char* o = back.data();
    size_t o_left = back.size();
    ::iconv(to, nullptr, nullptr, nullptr, nullptr);
    if (::iconv(to, &in, &in_left, &o, &o_left) == 0 && in_left == 0) out += line;
  }
  ::iconv_close(to);
  return out;
}

std::string prose_lines(const std::string& language, const std::string& encoding) {
  const std::string pages = man_pages(language);
  std::string text;
  size_t start = 0;
  while (start < pages.size()) {
    size_t end = pages.find('\n', start);
    if (end == std::string::npos) end = pages.size();
    std::string line = pages.substr(start, end - start);
    start = end + 1;
    if (text_line(line) && line.find_first_not_of(" \t") != std::string::npos) text += line + "\n";
  }
  return writable(text, encoding);
}

// The lines above ASCII alone, for comments.
std::string non_ascii_lines(const std::string& text) {
  std::string out;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    const auto above = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
    if (std::any_of(text.begin() + static_cast<ptrdiff_t>(start),
                    text.begin() + static_cast<ptrdiff_t>(end), above))
      out.append(text, start, end - start + 1);
  }
  return out;
}

// The first `chars` characters of a UTF-8 line.
std::string first_chars(const std::string& line, size_t chars) {
  size_t at = 0;
  for (size_t n = 0; at < line.size() && n < chars; ++n) do
      ++at;
    while (at < line.size() && (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80);
  return line.substr(0, at);
}

}  // namespace

std::string encoded(const std::string& utf8, const std::string& encoding) {
  const iconv_t cd = ::iconv_open(encoding.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* o = out.data();
  size_t o_left = out.size();
  const bool ok = ::iconv(cd, &in, &in_left, &o, &o_left) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  out.resize(ok ? out.size() - o_left : 0);
  return out;
}

std::string prose_text(const std::string& language, const std::string& encoding, size_t bytes) {
  return repeat_to(prose_lines(language, encoding), bytes);
}

std::string source_text(const std::string& language, const std::string& encoding, size_t bytes) {
  std::string code =
      run("cat /usr/include/c++/*/bits/*.h 2>/dev/null | LC_ALL=C tr -cd '\\11\\12\\40-\\176' | "
          "grep -v -e '^ *//' -e '^ *[/]*\\*' | head -c 4000000");
  std::string prose = non_ascii_lines(prose_lines(language, encoding));
  code.resize(code.rfind('\n') + 1);  // whole lines, each with its line end
  prose.resize(prose.rfind('\n') + 1);
  if (code.empty() || prose.empty()) return {};
  std::string text;
  size_t at = 0, said = 0;
  for (size_t lines = 0; text.size() < bytes; ++lines) {
    if (lines % 8 == 7) {
      const size_t end = prose.find('\n', said);
      text += "  // " + first_chars(prose.substr(said, end - said), 40) + "\n";
      said = end + 1 < prose.size() ? end + 1 : 0;
      continue;
    }
    const size_t end = code.find('\n', at);
    text.append(code, at, end - at + 1);
    at = end + 1 < code.size() ? end + 1 : 0;
  }
  return text;
}

const std::string& text_root() {
  static const std::string root = [] {
    std::string out = run("python3 '" OUZEL_SOURCE_DIR "/scripts/text_cache.py' fetch </dev/null");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }();
  return root;
}

std::string utf8_text(size_t bytes) { return repeat_to(base_utf8(), bytes); }

std::string ascii_text(size_t bytes) {
  static const std::string text =
      run("cat /usr/include/*.h 2>/dev/null | LC_ALL=C tr -cd '\\11\\12\\40-\\176' | "
          "head -c 4000000");
  return repeat_to(text, bytes);
}

std::string gbk_text(size_t bytes) {
  const std::string u = utf8_text(bytes);
  if (u.empty()) return u;
  const std::string tmp = fs::temp_directory_path() / "ouzel-bench-corpus.txt";
  std::ofstream(tmp, std::ios::binary) << u;
  std::string g = run("iconv -f UTF-8 -t GBK '" + tmp + "'");
  fs::remove(tmp);
  return g;
}

std::string make_tree(const std::string& dir, const std::string& text, size_t files,
                      size_t min_bytes, size_t max_bytes) {
  if (fs::exists(dir)) return dir;
  const std::string staging = dir + ".partial";
  fs::remove_all(staging);
  std::mt19937 rng(42);
  std::uniform_int_distribution<size_t> size(min_bytes, max_bytes);
  std::string big = text;
  while (big.size() < max_bytes * 2) big += text;
  for (size_t i = 0; i < files; ++i) {
    const std::string sub = staging + "/d" + std::to_string(i % 37) + "/e" +
                            std::to_string(i % 11) + "/f" + std::to_string(i) + ".txt";
    fs::create_directories(fs::path(sub).parent_path());
    size_t start = rng() % (big.size() - max_bytes);
    start = big.find('\n', start) + 1;
    size_t len = size(rng);
    size_t end = big.rfind('\n', start + len);
    if (end == std::string::npos || end <= start) end = start + len;
    std::ofstream(sub, std::ios::binary)
        .write(big.data() + start, static_cast<std::streamsize>(end - start));
  }
  fs::rename(staging, dir);
  return dir;
}

}  // namespace bench_corpus
