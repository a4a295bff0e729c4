// Helpers shared by the tests: temporary directories, whole-file I/O, the iconv command.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

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
std::vector<std::string> list_dir(const std::string& dir);  // names, sorted; "." and ".." left out
mode_t file_mode(const std::string& path);                  // permission bits; 0 when missing

// What `iconv -f from -t to` makes of `input`; `ok` false when the command failed.
std::string iconv_command(std::string_view input, const std::string& from, const std::string& to,
                          bool* ok = nullptr);

// UTF-8 text that mixes ASCII runs of 0 to 3 bytes with sequences of two, three and (when
// `astral`) four bytes, so chunk boundaries fall at every position inside a sequence. The
// characters exist in GBK, Big5 and Shift_JIS unless `unicode_only` adds ones that do not.
std::string mixed_text(size_t pieces, bool astral, bool unicode_only);

// Real Chinese text (UTF-8) of about `bytes` bytes, from a manual page a Debian package ships,
// or a built-in paragraph repeated when none is installed.
std::string chinese_text(size_t bytes);

}  // namespace testing_support
