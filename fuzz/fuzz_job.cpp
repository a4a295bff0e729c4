// Fuzz target: one to four files of random bytes in two folders through the whole job
// (detection, repair, line ends, marks, whole or in chunks, in place or into a new folder).
// Never a crash; nothing is left beside the files (in place, once the runs are undone); a file
// not done is kept byte for byte; a UTF-8 target written anew is strict UTF-8 with the line
// ends and mark asked for, a plain conversion is iconv's own output; in place without repair a
// second run changes nothing made right, and undoing the runs puts every file back.
// Input: the first byte picks the options, the second the encodings and the number of files,
// the third a preview, samples and threads; the rest is cut into the files.
#include <dirent.h>
#include <iconv.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "job/job.h"
#include "job/undo_job.h"
#include "transcode/utf8.h"

namespace {

constexpr const char* kSources[] = {"GBK",      "BIG5",   "SHIFT_JIS",  "EUC-KR",
                                    "CP1252",   "KOI8-R", "UTF-8",      "UTF-16LE",
                                    "GB18030",  "CP1251", "EUC-JP",     "ISO-8859-1",
                                    "UTF-16BE", "CP932",  "BIG5-HKSCS", "ISO-2022-JP"};
constexpr const char* kTargets[] = {"UTF-8", "UTF-8", "UTF-8 with BOM", "GBK"};

void require(bool ok, const char* what, const FileReport* file = nullptr) {
  if (ok) return;
  std::fprintf(stderr, "broken: %s", what);
  if (file != nullptr)
    std::fprintf(stderr, " (outcome %s, source %s, note %s)",
                 std::string(outcome_name(file->outcome)).c_str(), file->source.c_str(),
                 file->note.c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

std::string g_dir;

void remove_tree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = ::opendir(path.c_str())) {
      std::vector<std::string> names;
      while (const dirent* e = ::readdir(d))
        if (std::string n = e->d_name; n != "." && n != "..") names.push_back(n);
      ::closedir(d);
      for (const auto& n : names) remove_tree(path + "/" + n);
    }
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

void remove_work_dir() { remove_tree(g_dir); }

// Under $TMPDIR (a memory file system such as /dev/shm makes the target several times faster).
const std::string& work_dir() {
  if (g_dir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/ouzel-fuzz-job-XXXXXX";
    require(::mkdtemp(tmpl.data()) != nullptr, "mkdtemp");
    g_dir = tmpl;
    std::atexit(remove_work_dir);
  }
  return g_dir;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::string n = e->d_name; n != "." && n != "..") names.push_back(n);
    ::closedir(d);
  }
  return names;
}

bool read_all(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

void write_all(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  require(static_cast<bool>(out), "writing the input");
}

// iconv's UTF-8 of the whole input in one call, or false where it fails.
bool plain_iconv(const std::string& charset, const std::string& input, std::string& out) {
  const iconv_t cd = ::iconv_open("UTF-8", charset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.resize(input.size() * 8 + 64);
  char* in = const_cast<char*>(input.data());
  size_t in_left = input.size();
  char* o = out.data();
  size_t out_left = out.size();
  const bool ok = ::iconv(cd, &in, &in_left, &o, &out_left) != static_cast<size_t>(-1) &&
                  ::iconv(cd, nullptr, nullptr, &o, &out_left) != static_cast<size_t>(-1);
  out.resize(out.size() - out_left);
  ::iconv_close(cd);
  return ok;
}

class Quiet : public JobObserver {
 public:
  void message(const std::string&) override {}
  bool wants_file_lines() const override { return false; }
};

bool starts_with_mark(const std::string& s) {
  return s.rfind("\xEF\xBB\xBF", 0) == 0 || s.rfind("\xFF\xFE", 0) == 0 ||
         s.rfind("\xFE\xFF", 0) == 0;
}

// Line ends and mark of a UTF-8 target written anew, as the options asked.
void check_utf8_written(const std::string& written, const JobOptions& o, bool with_mark,
                        const FileReport& f) {
  const bool marked = written.rfind(kUtf8Bom, 0) == 0;
  const std::string body = marked ? written.substr(3) : written;
  require(utf8_check(body).valid, "a UTF-8 target that is not UTF-8", &f);
  if (with_mark || o.bom == BomMode::add) require(marked, "the mark asked for is missing", &f);
  if (o.bom == BomMode::remove && !with_mark) require(!marked, "a mark left in", &f);
  if (o.eol == EolMode::lf)
    require(body.find('\r') == std::string::npos, "a CR left with LF asked for", &f);
  if (o.eol == EolMode::cr)
    require(body.find('\n') == std::string::npos, "an LF left with CR asked for", &f);
  if (o.eol == EolMode::crlf)
    for (size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '\r') require(i + 1 < body.size() && body[i + 1] == '\n', "a lone CR", &f);
      if (body[i] == '\n') require(i > 0 && body[i - 1] == '\r', "a lone LF", &f);
    }
}

// One file's target against what the options asked; `written` is empty when there is none.
void check_file(const std::string& input, const JobPlan& plan, const FileReport& f, bool exists,
                const std::string& written) {
  const bool in_place = plan.output == plan.input;
  const JobOptions& o = plan.options;
  if (!outcome_is_done(f.outcome) || f.unchanged) {
    if (in_place || exists) require(written == input, "a file not done was changed", &f);
    return;
  }
  require(exists, "a file done has no target", &f);
  if (plan.target.charset != "UTF-8" || !f.eol_counted) return;
  check_utf8_written(written, o, plan.target.utf8_mark, f);
  // A plain conversion (no repair, no mark, line ends kept) is iconv's, byte for byte.
  std::string reference;
  if (f.outcome == Outcome::converted && o.eol == EolMode::keep && o.bom == BomMode::remove &&
      !plan.target.utf8_mark && !starts_with_mark(input) && f.note.rfind("repaired", 0) != 0 &&
      plain_iconv(EncodingEntry(f.source).charset, input, reference))
    require(written == reference, "a conversion other than iconv's", &f);
}

// Every name under `dir`, folders with a trailing '/', relative and sorted.
void list_tree(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
  for (const std::string& n : names_in(dir + "/" + prefix)) {
    struct stat st;
    const std::string rel = prefix + n;
    if (::lstat((dir + "/" + rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      out.push_back(rel + "/");
      list_tree(dir, rel + "/", out);
    } else {
      out.push_back(rel);
    }
  }
}

std::vector<std::string> tree_of(const std::string& dir) {
  std::vector<std::string> all;
  list_tree(dir, "", all);
  std::sort(all.begin(), all.end());
  return all;
}

constexpr const char* kPaths[] = {"f0.txt", "a/f1.txt", "b/f2.txt", "a/f3.txt"};

const FileReport& report_for(const JobReport& r, const char* path) {
  const auto it = std::find_if(r.files.begin(), r.files.end(),
                               [&](const FileReport& f) { return f.path == path; });
  require(it != r.files.end(), "a file missing from the report");
  return *it;
}

// In place, the same run again changes no file the first one made right: nothing is
// converted twice.
void run_again(const JobPlan& plan, const JobReport& first, size_t files) {
  std::vector<std::string> before(files);
  for (size_t i = 0; i < files; ++i) read_all(plan.input + "/" + kPaths[i], before[i]);
  ConvertJob again(plan);
  Quiet quiet;
  const JobReport second = again.run(quiet);
  for (size_t i = 0; i < files; ++i) {
    std::string now;
    read_all(plan.input + "/" + kPaths[i], now);
    // Text holding U+0000 is UTF-16 as much as UTF-8 (`08 00`): which it is, nobody can tell.
    const bool nul = before[i].find('\0') != std::string::npos;
    if (outcome_is_done(report_for(first, kPaths[i]).outcome) && !nul)
      require(now == before[i], "a second run in place changed a file the first made right",
              &report_for(second, kPaths[i]));
  }
}

// In place, undoing every run kept, newest first, puts each file back byte for byte and leaves
// nothing beside the files.
void undo_every_run(const std::string& in_dir, const std::vector<std::string>& parts,
                    const std::vector<std::string>& expected) {
  for (int runs = 0; runs < 3; ++runs) {
    UndoPlan undo;
    undo.root = in_dir;
    undo.durable = false;
    Quiet quiet;
    const JobReport back = UndoJob(undo).run(quiet);
    if (!back.ran) break;
    require(back.failures() == 0, "an undo left a file as the run wrote it");
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string now;
    require(read_all(in_dir + "/" + kPaths[i], now) && now == parts[i],
            "an undo did not put a file back");
  }
  require(tree_of(in_dir) == expected, "something beside the input after the undo");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t opts = data[0], enc = data[1], more = data[2];
  const std::string input(reinterpret_cast<const char*>(data) + 3, size - 3);
  const std::string& dir = work_dir();
  const std::string in_dir = dir + "/in", out_dir = dir + "/out";
  remove_tree(in_dir);
  remove_tree(out_dir);
  // One to four files in two folders (tiny files pool their folder's statistics), the input
  // cut in as many parts.
  const size_t files = 1 + enc / 64;
  std::vector<std::string> parts, expected_in;
  for (const char* folder : {"", "/a", "/b"})
    require(::mkdir((in_dir + folder).c_str(), 0700) == 0, "mkdir");
  for (size_t i = 0; i < files; ++i) {
    parts.push_back(input.substr(input.size() * i / files,
                                 input.size() * (i + 1) / files - input.size() * i / files));
    write_all(in_dir + "/" + kPaths[i], parts.back());
    expected_in.push_back(kPaths[i]);
  }
  expected_in.insert(expected_in.end(), {"a/", "b/"});
  std::sort(expected_in.begin(), expected_in.end());

  const bool in_place = (opts & 1) != 0;
  JobPlan plan;
  plan.input = in_dir;
  plan.output = in_place ? in_dir : out_dir;
  plan.filter = "*.*";
  plan.source = EncodingEntry(kSources[enc % std::size(kSources)]);
  plan.target = EncodingEntry(kTargets[enc / std::size(kSources) % std::size(kTargets)]);
  JobOptions& o = plan.options;
  o.durable = false;
  o.threads = files > 1 && (more & 4) != 0 ? 2 : 1;
  o.samples = (more & 1) != 0;
  o.dry_run = (more & 2) != 0;
  o.detect = (opts & 2) != 0;
  o.repair = (opts & 4) != 0;
  o.eol = static_cast<EolMode>((opts >> 3) % 4);
  o.bom = static_cast<BomMode>((opts >> 5) % 3);
  if ((opts & 0x80) != 0) {  // the chunked path, with chunks cut anywhere
    o.whole_file_limit = 64;
    o.stream_chunk = 16 + input.size() % 48;
  }
  ConvertJob job(plan);
  Quiet quiet;
  const JobReport r = job.run(quiet);

  require(r.ran && r.files.size() == files, "every file reported");
  // In place, the undo store is beside the files until the runs are undone (below).
  if (!in_place || o.dry_run) require(tree_of(in_dir) == expected_in, "something beside the input");
  if (o.dry_run) {
    // A preview writes nothing, anywhere.
    require(::access(out_dir.c_str(), F_OK) != 0, "a preview made the output folder");
    for (size_t i = 0; i < files; ++i) {
      std::string now;
      require(read_all(in_dir + "/" + kPaths[i], now) && now == parts[i], "a preview wrote");
    }
    return 0;
  }
  if (!in_place) {
    // Only targets and their folders: nothing staged or half-written left behind.
    for (const std::string& name : tree_of(out_dir))
      require(std::find(expected_in.begin(), expected_in.end(), name) != expected_in.end(),
              "something beside the targets");
  }
  for (size_t i = 0; i < files; ++i) {
    std::string written;
    const bool exists = read_all(plan.output + "/" + kPaths[i], written);
    check_file(parts[i], plan, report_for(r, kPaths[i]), exists, written);
  }
  // Important: not with repair, whose statistics still take a few random short texts for
  // misread ones (three like Hanja after "-A", two half-width katakana inside a word).
  if (in_place && plan.target.charset == "UTF-8" && !o.repair) run_again(plan, r, files);
  if (in_place) undo_every_run(in_dir, parts, expected_in);
  return 0;
}
