// Helpers shared by the tests: temporary directories, whole-file I/O, the iconv command.
#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// A fresh directory under $TMPDIR, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(std::string_view rel) const { return path_ + "/" + std::string(rel); }

 private:
  std::string path_;
};

// Changes the working directory for the scope of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::string saved_;
};

void write_file(const std::string& path, std::string_view data);  // creates parent dirs
std::string read_file(const std::string& path);                   // empty when missing
bool file_exists(const std::string& path);

// What `iconv -f from -t to` makes of `input`; `ok` false when the command failed.
std::string iconv_command(std::string_view input, const std::string& from, const std::string& to,
                          bool* ok = nullptr);

// `utf8` converted in-process to `encoding`; throws when it has no form there.
std::string encode_as(std::string_view utf8, const std::string& encoding);

// A small C++ source file whose one comment is `comment_utf8`, in `encoding`.
std::string source_with_comment(std::string_view comment_utf8, const std::string& encoding,
                                int serial = 0);

// Real Chinese text (UTF-8) of about `bytes` bytes, from a manual page a Debian package ships,
// or a built-in paragraph repeated when none is installed.
std::string chinese_text(size_t bytes);

}  // namespace testing_support
