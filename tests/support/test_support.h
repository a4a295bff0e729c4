// Helpers shared by the tests: temporary directories, whole-file I/O, the iconv command.
#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "detect/detect.h"
#include "job/job.h"

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

// A Unix socket bound at `path` (closed at once; the entry stays).
void make_socket(const std::string& path);
void write_file(const std::string& path, std::string_view data);  // creates parent dirs
std::string read_file(const std::string& path);                   // empty when missing
bool file_exists(const std::string& path);
std::vector<std::string> list_dir(const std::string& dir);   // names, sorted; "." and ".." left out
std::vector<std::string> list_tree(const std::string& dir);  // every file's relative path, sorted
mode_t file_mode(const std::string& path);                   // permission bits; 0 when missing

// What `iconv -f from -t to` makes of `input`; `ok` false when the command failed.
std::string iconv_command(std::string_view input, const std::string& from, const std::string& to,
                          bool* ok = nullptr);

// The first `bytes` bytes of a real executable (/usr/bin/ls), NULs and all.
std::string binary_sample(size_t bytes);

// `utf8` converted in-process to `encoding`; throws when it has no form there.
std::string encode_as(std::string_view utf8, const std::string& encoding);

// Short code comments (UTF-8): 24 in simplified Chinese, the same 24 in traditional.
extern const char* const kSimplified[24];
extern const char* const kTraditional[24];

// A small C++ source file whose one comment is `comment_utf8`, in `encoding`.
std::string source_with_comment(std::string_view comment_utf8, const std::string& encoding,
                                int serial = 0);

// UTF-8 text that mixes ASCII runs of 0 to 3 bytes with sequences of two, three and (when
// `astral`) four bytes, so chunk boundaries fall at every position inside a sequence. The
// characters exist in GBK, Big5 and Shift_JIS unless `unicode_only` adds ones that do not.
std::string mixed_text(size_t pieces, bool astral, bool unicode_only);

// Real Chinese text (UTF-8) of about `bytes` bytes, from a manual page a Debian package ships
// (scripts/text_cache.py), or a built-in paragraph repeated when it has not been fetched.
std::string chinese_text(size_t bytes);

// A chain of directories below `parent` whose path is longer than PATH_MAX (so it cannot be
// opened by path), removed from the bottom on destruction.
class DeepChain {
 public:
  explicit DeepChain(const std::string& parent);
  ~DeepChain();
  DeepChain(const DeepChain&) = delete;
  DeepChain& operator=(const DeepChain&) = delete;

 private:
  std::string name_;
  std::vector<int> fds_;
};

// Runs the program `argv[0]` with `argv`, standard input from /dev/null; returns its exit
// status (-1 when it could not start or died of a signal) and keeps its stderr in `err`.
int run_process(const std::vector<std::string>& argv, std::string* err = nullptr);

// Every regular file under `root`: relative path and content.
std::map<std::string, std::string> read_tree(const std::string& root);

// Keeps everything a job reports, in the order it came.
class JobRecorder : public JobObserver {
 public:
  void message(const std::string& text) override;
  void file_done(size_t index, const FileReport& report, const std::vector<std::string>& lines,
                 const JobProgress& progress) override;

  std::vector<std::string> messages;
  std::vector<std::vector<std::string>> file_lines;  // per file_done call
  std::vector<size_t> order;                         // indices in the order they finished
  JobProgress last;
};

// Runs a job on `plan` to its end.
JobReport run_job(const JobPlan& plan, JobRecorder* recorder = nullptr);

// A plan over two directories with the given encodings and filter "*.*".
JobPlan make_plan(const std::string& input, const std::string& output, const char* from,
                  const char* to);

// The report entry for `path`, or nullptr.
const FileReport* entry_for(const JobReport& report, const std::string& path);

// The names of every detection preset, in order.
const std::vector<std::string>& every_preset();

// Detection's decision for `bytes` as the only file of a tree.
detect::Decision alone(const std::vector<std::string>& candidates, const std::string& preferred,
                       const std::string& bytes);

// Every language with a catalogue, as po/ names them ("zh_CN", "ru", ...).
std::vector<std::string> languages();

// The program's texts in `language` (its catalogue in the build tree) for the scope of the
// object, English again after; "" keeps English.
class ScopedLanguage {
 public:
  explicit ScopedLanguage(const std::string& language);
  ~ScopedLanguage();
  ScopedLanguage(const ScopedLanguage&) = delete;
  ScopedLanguage& operator=(const ScopedLanguage&) = delete;
};

}  // namespace testing_support
