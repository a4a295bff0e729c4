// Benchmark corpus from the manual pages of manpages-zh, converted with the iconv command.
#include "bench_corpus.h"

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

}  // namespace

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
