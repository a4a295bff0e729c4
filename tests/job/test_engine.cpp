// The job on real trees: every file classified before it is written, in place without
// harm, links and overlapping trees, the report and its summary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "job/job.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kComment = "// \xE7\xBC\x96\xE7\xA0\x81\n";  // "// 编码": one short comment

struct FileId {
  ino_t ino;
  time_t mtime_sec;
  long mtime_nsec;
};

FileId id_of(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

PlannedFile planned(const char* dir, const char* name) {
  PlannedFile f;
  f.relative_dir = dir;
  f.file_name = name;
  return f;
}

bool same_id(const FileId& a, const FileId& b) {
  return a.ino == b.ino && a.mtime_sec == b.mtime_sec && a.mtime_nsec == b.mtime_nsec;
}

// A tree as a user meets it: GBK sources, UTF-8 sources with one short comment, long UTF-8
// texts, pure ASCII, binaries, UTF-16LE files with a mark.
struct MixedTree {
  std::string gbk_text = encode_as("int a; " + kComment + chinese_text(3000), "GBK");
  std::string short_utf8 = "int x = 1;\n" + kComment;
  std::string long_utf8 = chinese_text(50000);
  std::string ascii = "int main() { return 0; }\n";
  std::string binary = binary_sample(20000);
  std::string utf16 = "\xFF\xFE" + encode_as("\xE4\xB8\xAD\xE6\x96\x87 text\n", "UTF-16LE");

  explicit MixedTree(const std::string& root) {
    for (int i = 0; i < 3; ++i) {
      const std::string n = std::to_string(i);
      write_file(root + "/gbk/g" + n + ".cpp", gbk_text);
      write_file(root + "/utf8/s" + n + ".cpp", short_utf8);
      write_file(root + "/docs/long" + n + ".txt", long_utf8);
      write_file(root + "/a" + n + ".h", ascii);
      write_file(root + "/bin/b" + n + ".o", binary);
      write_file(root + "/wide/w" + n + ".txt", utf16);
    }
  }
};

// Each file of the mixed tree gets its own outcome and the right bytes, from either legacy
// source: nothing double-encoded, nothing marked or binary touched.
void expect_mixed_tree_converted(const char* source) {
  TempDir tmp;
  MixedTree tree(tmp / "in");
  const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", source, "UTF-8"));
  ASSERT_EQ(r.files.size(), 18u);
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(entry_for(r, "gbk/g" + n + ".cpp")->outcome, Outcome::converted);
    EXPECT_EQ(read_file(tmp / ("out/gbk/g" + n + ".cpp")),
              iconv_command(tree.gbk_text, source, "UTF-8"));
    EXPECT_EQ(entry_for(r, "utf8/s" + n + ".cpp")->outcome, Outcome::already_utf8);
    EXPECT_EQ(read_file(tmp / ("out/utf8/s" + n + ".cpp")), tree.short_utf8);
    EXPECT_EQ(entry_for(r, "docs/long" + n + ".txt")->outcome, Outcome::already_utf8);
    EXPECT_EQ(read_file(tmp / ("out/docs/long" + n + ".txt")), tree.long_utf8);
    EXPECT_EQ(entry_for(r, "a" + n + ".h")->outcome, Outcome::ascii);
    EXPECT_EQ(read_file(tmp / ("out/a" + n + ".h")), tree.ascii);
    EXPECT_EQ(entry_for(r, "bin/b" + n + ".o")->outcome, Outcome::binary);
    EXPECT_EQ(read_file(tmp / ("out/bin/b" + n + ".o")), tree.binary);
    EXPECT_EQ(entry_for(r, "wide/w" + n + ".txt")->outcome, Outcome::marked);
    EXPECT_EQ(entry_for(r, "wide/w" + n + ".txt")->note, "marked as UTF-16LE");
    EXPECT_EQ(read_file(tmp / ("out/wide/w" + n + ".txt")), tree.utf16);
  }
}

}  // namespace

// Mixed tree: the GBK files and only they are converted.
TEST(Engine, MixedTreeFromGbk) { expect_mixed_tree_converted("GBK"); }

// The same from GB18030, which decodes almost any byte pair and so needs the rules most.
TEST(Engine, MixedTreeFromGb18030) { expect_mixed_tree_converted("GB18030"); }

// In place twice: the first run converts, the second changes no byte and rewrites no file.
TEST(Engine, InPlaceTwiceRewritesNothingTheSecondTime) {
  TempDir tmp;
  MixedTree tree(tmp / "in");
  const JobPlan plan = make_plan(tmp / "in", tmp / "in", "GBK", "UTF-8");
  run_job(plan);
  EXPECT_EQ(read_file(tmp / "in/gbk/g0.cpp"), iconv_command(tree.gbk_text, "GBK", "UTF-8"));
  EXPECT_EQ(read_file(tmp / "in/utf8/s0.cpp"), tree.short_utf8);
  EXPECT_EQ(read_file(tmp / "in/bin/b0.o"), tree.binary);
  const std::vector<std::string> paths = {"gbk/g0.cpp", "utf8/s1.cpp", "docs/long2.txt",
                                          "a0.h",       "bin/b1.o",    "wide/w2.txt"};
  std::vector<FileId> before;
  std::vector<std::string> bytes;
  for (const auto& p : paths) {
    before.push_back(id_of(tmp / ("in/" + p)));
    bytes.push_back(read_file(tmp / ("in/" + p)));
  }
  const JobReport second = run_job(plan);
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_TRUE(same_id(before[i], id_of(tmp / ("in/" + paths[i])))) << paths[i];
    EXPECT_EQ(read_file(tmp / ("in/" + paths[i])), bytes[i]) << paths[i];
  }
  // The converted files read as UTF-8 now; nothing is converted a second time.
  EXPECT_EQ(second.counts()[static_cast<size_t>(Outcome::converted)], 0u);
}

// In place twice from UTF-16: what the first run wrote has no NUL byte and reads as UTF-8, so
// the second leaves it (it read ASCII text as UTF-16 once: "hi\r\n" became "楨ഊ"). Into a
// legacy target ASCII is written as it is. Real UTF-16 text is still converted the first time.
TEST(Engine, InPlaceTwiceFromUtf16ConvertsNothingTwice) {
  const std::string english = "hello, world\r\nsecond line\n";
  const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文: UTF-16LE 2D 4E 87 65, no NUL
  for (const char* from : {"UTF-16LE", "UTF-16"}) {
    for (const char* to : {"UTF-8", "GBK"}) {
      SCOPED_TRACE(std::string(from) + " to " + to);
      TempDir tmp;
      write_file(tmp / "in/plain.txt", encode_as(english, "UTF-16LE"));
      write_file(tmp / "in/marked.txt", "\xFF\xFE" + encode_as(english, "UTF-16LE"));
      write_file(tmp / "in/zh.txt", "\xFF\xFE" + encode_as(chinese, "UTF-16LE"));
      const JobPlan plan = make_plan(tmp / "in", tmp / "in", from, to);
      run_job(plan);
      EXPECT_EQ(read_file(tmp / "in/marked.txt"), english);
      EXPECT_EQ(read_file(tmp / "in/zh.txt"), encode_as(chinese, to));
      const JobReport second = run_job(plan);
      EXPECT_EQ(read_file(tmp / "in/marked.txt"), english);
      EXPECT_EQ(read_file(tmp / "in/zh.txt"), encode_as(chinese, to));
      const FileReport* e = entry_for(second, "marked.txt");
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->outcome, std::string(to) == "UTF-8" ? Outcome::already_utf8 : Outcome::ascii);
      EXPECT_NE(e->note.find("not " + std::string(from) + " text"), std::string::npos) << e->note;
    }
  }
}

// In place, an unchanged file keeps its hard links; a converted one keeps them too.
TEST(Engine, InPlaceKeepsHardLinks) {
  TempDir tmp;
  const std::string gbk = encode_as(kComment, "GBK");
  write_file(tmp / "in/a.cpp", gbk);
  write_file(tmp / "in/sub/keep.txt", "x");
  ASSERT_EQ(::link((tmp / "in/a.cpp").c_str(), (tmp / "in/sub/b.cpp").c_str()), 0);
  const JobReport r = run_job(make_plan(tmp / "in", tmp / "in", "GBK", "UTF-8"));
  EXPECT_EQ(read_file(tmp / "in/a.cpp"), kComment);
  EXPECT_EQ(read_file(tmp / "in/sub/b.cpp"), kComment);
  EXPECT_EQ(id_of(tmp / "in/a.cpp").ino, id_of(tmp / "in/sub/b.cpp").ino);
  EXPECT_EQ(entry_for(r, "a.cpp")->outcome, Outcome::converted);
  EXPECT_EQ(entry_for(r, "sub/b.cpp")->outcome, Outcome::same_file);
}

// In place with links: a link to an outside file is left alone and its file untouched; a
// file reached through itself and two links is converted once; a link to a directory is
// not entered; links stay links.
TEST(Engine, InPlaceLinksConvertOnceAndNeverWriteOutside) {
  TempDir tmp;
  const std::string gbk = encode_as(kComment, "GBK");
  write_file(tmp / "outside/secret.cpp", gbk);
  write_file(tmp / "in/real.cpp", gbk);
  write_file(tmp / "in/dir/inner.cpp", gbk);
  ASSERT_EQ(::symlink((tmp / "outside/secret.cpp").c_str(), (tmp / "in/out.cpp").c_str()), 0);
  ASSERT_EQ(::symlink("real.cpp", (tmp / "in/l1.cpp").c_str()), 0);
  ASSERT_EQ(::symlink("../real.cpp", (tmp / "in/dir/l2.cpp").c_str()), 0);
  ASSERT_EQ(::symlink("dir", (tmp / "in/dirlink").c_str()), 0);
  const JobReport r = run_job(make_plan(tmp / "in", tmp / "in", "GBK", "UTF-8"));

  EXPECT_EQ(read_file(tmp / "outside/secret.cpp"), gbk);
  EXPECT_EQ(entry_for(r, "out.cpp")->outcome, Outcome::outside);
  EXPECT_EQ(read_file(tmp / "in/real.cpp"), kComment);
  EXPECT_EQ(read_file(tmp / "in/dir/inner.cpp"), kComment);
  size_t converted = 0, same = 0;
  for (const char* p : {"real.cpp", "l1.cpp", "dir/l2.cpp"}) {
    converted += entry_for(r, p)->outcome == Outcome::converted;
    same += entry_for(r, p)->outcome == Outcome::same_file;
  }
  EXPECT_EQ(converted, 1u);
  EXPECT_EQ(same, 2u);
  EXPECT_EQ(entry_for(r, "dirlink/inner.cpp"), nullptr);
  for (const char* l : {"in/out.cpp", "in/l1.cpp", "in/dir/l2.cpp", "in/dirlink"}) {
    struct stat st;
    ASSERT_EQ(::lstat((tmp / l).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << l;
  }
}

// An output directory inside the input is left out of the search (one line says so), so a
// second run does exactly what the first did.
TEST(Engine, OutputInsideInputIsLeftOut) {
  TempDir tmp;
  write_file(tmp / "in/a.cpp", encode_as(kComment, "GBK"));
  write_file(tmp / "in/b.h", "int b;\n");
  const JobPlan plan = make_plan(tmp / "in", tmp / "in/out", "GBK", "UTF-8");
  JobRecorder first_log, second_log;
  const JobReport first = run_job(plan, &first_log);
  const JobReport second = run_job(plan, &second_log);
  EXPECT_EQ(report_csv(first), report_csv(second));
  EXPECT_EQ(second.files.size(), 2u);
  EXPECT_FALSE(file_exists(tmp / "in/out/out"));
  EXPECT_EQ(read_file(tmp / "in/out/a.cpp"), kComment);
  const auto said = [](const JobRecorder& rec) {
    return std::count_if(rec.messages.begin(), rec.messages.end(), [](const std::string& m) {
      return m.find("inside the input directory, left out of the search") != std::string::npos;
    });
  };
  EXPECT_EQ(said(first_log), 1);
  EXPECT_EQ(said(second_log), 1);
}

// Binaries under sources that decode any byte (KOI8-R, ISO-8859-1) are never rewritten.
TEST(Engine, BinariesUntouchedUnderSingleByteSources) {
  for (const char* source : {"KOI8-R", "ISO-8859-1"}) {
    TempDir tmp;
    const std::string bin = binary_sample(30000);
    write_file(tmp / "in/tool", bin);
    write_file(tmp / "in/a.png", "\x89PNG\r\n\x1a\n" + std::string("\0\0\0\rIHDR", 8) + bin);
    const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", source, "UTF-8"));
    EXPECT_EQ(entry_for(r, "tool")->outcome, Outcome::binary) << source;
    EXPECT_EQ(entry_for(r, "a.png")->outcome, Outcome::binary) << source;
    EXPECT_EQ(read_file(tmp / "out/tool"), bin);
  }
}

// A UTF-16LE source's own mark is dropped: "UTF-8" gets none, "UTF-8 with BOM" exactly one.
TEST(Engine, Utf16MarkFollowsTargetPolicyOnly) {
  TempDir tmp;
  const std::string text = chinese_text(2000);
  write_file(tmp / "in/w.txt", "\xFF\xFE" + encode_as(text, "UTF-16LE"));
  run_job(make_plan(tmp / "in", tmp / "plain", "UTF-16LE", "UTF-8"));
  EXPECT_EQ(read_file(tmp / "plain/w.txt"), text);
  run_job(make_plan(tmp / "in", tmp / "marked", "UTF-16LE", "UTF-8 with BOM"));
  EXPECT_EQ(read_file(tmp / "marked/w.txt"), kBom + text);
}

namespace {

ino_t broken_dir = 0;  // the folder whose listing the seam fails

bool is_broken(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && st.st_ino == broken_dir;
}

}  // namespace

// A folder whose listing fails through the seam, at its first entry or before it (readdir,
// fdopendir), is in the report with its errno and said in the log; its siblings convert.
TEST(Engine, FolderThatCannotBeListedIsReported) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", "plain");
  write_file(tmp / "in/sub/b.txt", "plain");
  struct stat st;
  ASSERT_EQ(::stat((tmp / "in/sub").c_str(), &st), 0);
  broken_dir = st.st_ino;
  for (const int failing : {0, 1}) {
    SCOPED_TRACE(failing == 0 ? "readdir" : "fdopendir");
    platform::ScopedSysIo seam;
    if (failing == 0)
      platform::sysio().readdir = [](DIR* d) -> dirent* {
        if (!is_broken(::dirfd(d))) return ::readdir(d);
        errno = EIO;
        return nullptr;
      };
    else
      platform::sysio().fdopendir = [](int fd) -> DIR* {
        if (!is_broken(fd)) return ::fdopendir(fd);
        errno = ENOMEM;
        return nullptr;
      };
    JobRecorder rec;
    const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"), &rec);
    ASSERT_EQ(r.search_failures.size(), 1u);
    EXPECT_EQ(r.search_failures[0].path, "sub");
    EXPECT_EQ(r.search_failures[0].error, failing == 0 ? EIO : ENOMEM);
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files[0].path, "a.txt");
    EXPECT_EQ(read_file(tmp / "out/a.txt"), "plain");
    const std::string said =
        "Cannot search directory: sub, error: " + errno_text(r.search_failures[0].error);
    EXPECT_EQ(std::count(rec.messages.begin(), rec.messages.end(), said), 1);
  }
}

// The report keeps every accepted file exactly once with its outcome, and each directory the
// search could not list; the summary counts that directory as not converted.
TEST(Engine, ReportListsEveryFileAndSearchFailure) {
  TempDir tmp;
  MixedTree tree(tmp / "in");
  DeepChain chain(tmp / "in");
  JobRecorder rec;
  const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"), &rec);
  ASSERT_EQ(r.search_failures.size(), 1u);
  EXPECT_EQ(r.search_failures[0].error, ENAMETOOLONG);
  const std::string csv = report_csv(r);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")), "path,outcome,source,target,bytes,detail");
  for (const auto& f : r.files) {
    const std::string row_start = "\r\n" + f.path + ",";
    EXPECT_NE(csv.find(row_start), std::string::npos) << f.path;
    EXPECT_EQ(csv.find(row_start), csv.rfind(row_start)) << f.path;
  }
  EXPECT_NE(csv.find(",search-failed,"), std::string::npos);
  // Marked files and the unlistable directory: 3 + 1 not converted.
  EXPECT_EQ(rec.messages.back(), "4 of 19 files were not converted, see the report");
  EXPECT_NE(std::find_if(rec.messages.begin(), rec.messages.end(),
                         [](const std::string& m) {
                           return m.find("search-failed: 1") != std::string::npos &&
                                  m.find("already-utf8: 6") != std::string::npos;
                         }),
            rec.messages.end());
}

// Each file's lines reach the observer together and begin with its "Processing file".
TEST(Engine, FileLinesComeTogether) {
  TempDir tmp;
  MixedTree tree(tmp / "in");
  JobRecorder rec;
  run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"), &rec);
  ASSERT_EQ(rec.file_lines.size(), 18u);
  for (const auto& lines : rec.file_lines) {
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("Processing file: ", 0), 0u);
  }
  EXPECT_EQ(rec.last.files_done, 18u);
  EXPECT_EQ(rec.last.files_total, 18u);
}

// A dry run classifies and converts in memory but writes nothing, not even the output root.
TEST(Engine, DryRunWritesNothing) {
  TempDir tmp;
  MixedTree tree(tmp / "in");
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  plan.options.dry_run = true;
  const JobReport r = run_job(plan);
  EXPECT_FALSE(file_exists(tmp / "out"));
  EXPECT_EQ(entry_for(r, "gbk/g0.cpp")->outcome, Outcome::converted);
  EXPECT_EQ(entry_for(r, "wide/w0.txt")->outcome, Outcome::marked);
}

// A stop request before the conversion leaves every file "not reached" in the report.
TEST(Engine, StoppedJobNamesFilesNotReached) {
  TempDir tmp;
  MixedTree tree(tmp / "in");
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  plan.files = std::vector<PlannedFile>{planned("gbk", "g0.cpp"), planned("gbk", "g1.cpp")};
  ConvertJob job(plan);
  job.request_stop();
  JobRecorder rec;
  const JobReport r = job.run(rec);
  EXPECT_TRUE(r.stopped);
  ASSERT_EQ(r.files.size(), 2u);
  EXPECT_EQ(r.files[0].outcome, Outcome::not_reached);
  EXPECT_FALSE(file_exists(tmp / "out/gbk/g0.cpp"));
}

// A planned file the user left out is reported as excluded and never written.
TEST(Engine, ExcludedPlannedFileIsNotWritten) {
  TempDir tmp;
  MixedTree tree(tmp / "in");
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  PlannedFile left_out = planned("gbk", "g1.cpp");
  left_out.excluded = true;
  plan.files = std::vector<PlannedFile>{planned("gbk", "g0.cpp"), left_out};
  const JobReport r = run_job(plan);
  EXPECT_EQ(r.files[0].outcome, Outcome::converted);
  EXPECT_EQ(r.files[1].outcome, Outcome::excluded);
  EXPECT_FALSE(file_exists(tmp / "out/gbk/g1.cpp"));
}
