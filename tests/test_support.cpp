// Helpers shared by the tests.
#include "test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ouzel-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only directories made by tests must be writable again to be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

ScopedCwd::ScopedCwd(const std::string& dir) : saved_(fs::current_path().string()) {
  fs::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
  std::error_code ec;
  fs::current_path(saved_, ec);
}

void write_file(const std::string& path, std::string_view data) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t file_mode(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string mixed_text(size_t pieces, bool astral, bool unicode_only) {
  std::vector<std::string> chars = {"\xE4\xB8\xAD", "\xE6\x96\x87", "\xE5\xAD\x97"};  // 中文字
  if (unicode_only) {
    chars.push_back("\xC3\xA9");      // é: two bytes
    chars.push_back("\xE2\x82\xAC");  // €
  }
  if (astral) {
    chars.push_back("\xF0\x9F\x98\x80");  // U+1F600: four bytes, a surrogate pair in UTF-16
    chars.push_back("\xF0\xA0\x80\x80");  // U+20000
  }
  std::string text;
  for (size_t i = 0; i < pieces; ++i) {
    text.append(i % 4, static_cast<char>('a' + i % 26));
    text += chars[i % chars.size()];
    if (i % 17 == 16) text += '\n';
  }
  return text;
}

std::string iconv_command(std::string_view input, const std::string& from, const std::string& to,
                          bool* ok) {
  TempDir dir;
  write_file(dir / "in", input);
  const std::string cmd = "iconv -f '" + from + "' -t '" + to + "' '" + (dir / "in") + "' > '" +
                          (dir / "out") + "' 2>/dev/null";
  const int rc = std::system(cmd.c_str());
  if (ok) *ok = rc == 0;
  return read_file(dir / "out");
}

std::string chinese_text(size_t bytes) {
  std::string source;
  const char* candidates[] = {"/usr/share/man/zh_CN/man1/ls.1.gz",
                              "/usr/share/man/zh_CN/man1/bash.1.gz"};
  for (const char* c : candidates) {
    if (!file_exists(c)) continue;
    FILE* p = ::popen((std::string("zcat ") + c).c_str(), "r");
    if (!p) continue;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) source.append(buf, n);
    ::pclose(p);
    if (!source.empty()) break;
  }
  if (source.empty()) {
    source =
        "字符编码转换工具把源代码和文档从一种编码转换为另一种编码。\n"
        "中华人民共和国，繁體中文與簡體中文，日本語のテキスト、한국어。\n";
  }
  std::string out;
  out.reserve(bytes + source.size());
  while (out.size() < bytes) out += source;
  // Cut at a line end so no UTF-8 sequence is split.
  size_t cut = out.rfind('\n', bytes);
  out.resize(cut == std::string::npos ? out.size() : cut + 1);
  return out;
}

}  // namespace testing_support
