// Undo of runs in place: a real tree comes back byte for byte with its modes and times, files
// changed since are kept, every way of keeping (second name, reflink, copy) and of failing to
// keep, the store beside a root that cannot be written, bounds, interrupted runs, the manifest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "job/job.h"
#include "job/undo_job.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"
#include "undo/manifest.h"
#include "undo/recorder.h"
#include "undo/store.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kGbk = "\xD6\xD0\xCE\xC4 text\n";  // 中文 text

// What a person relies on of every entry but the store: a file's bytes, permission bits,
// modification time and link count, a link's target, a folder's bits.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (rel.rfind(undo::kStoreName, 0) == 0) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st;
    EXPECT_EQ(::lstat(it->path().c_str(), &st), 0);
    std::string& e = out[rel];
    e = std::to_string(st.st_mode & 07777);
    if (S_ISLNK(st.st_mode)) e += " -> " + fs::read_symlink(it->path()).string();
    if (!S_ISREG(st.st_mode)) continue;
    e += " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
         " links " + std::to_string(st.st_nlink) + ": " + read_file(it->path().string());
  }
  return out;
}

void set_mtime(const std::string& path, long nanos) {
  const struct timespec t[2] = {{1500000000, nanos}, {1500000000, nanos}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW), 0);
}

// A GBK source tree with names in Chinese and Japanese, a hard link, a link, modes 0600 and
// 0755, marked files and files of every outcome, each with a time of its own.
void make_tree(const std::string& root) {
  write_file(root + "/src/中文/模块.cpp", "// " + kGbk + "int x;\r\n");
  write_file(root + "/src/日本語.h", kGbk + kGbk);
  write_file(root + "/docs/readme.txt", "plain ASCII\n");
  write_file(root + "/docs/bom.txt", "\xEF\xBB\xBF\xE4\xB8\xAD\xE6\x96\x87\n");  // into none
  write_file(root + "/docs/u16.txt", std::string("\xFF\xFEh\0i\0", 6));          // marked
  write_file(root + "/bin/tool.bin", std::string("ab\0cd", 5));                  // binary
  write_file(root + "/bad/broken.txt", "\xD6\xD0\x81\n");                        // cannot-convert
  write_file(root + "/secret.txt", kGbk);
  write_file(root + "/run.sh", "#!/bin/sh\necho " + kGbk);
  ASSERT_EQ(::chmod((root + "/secret.txt").c_str(), 0600), 0);
  ASSERT_EQ(::chmod((root + "/run.sh").c_str(), 0755), 0);
  fs::create_directories(root + "/link");
  ASSERT_EQ(::link((root + "/src/中文/模块.cpp").c_str(), (root + "/link/same.cpp").c_str()), 0);
  fs::create_symlink("../src/日本語.h", root + "/link/alias.h");
  long n = 1;
  for (const auto& [rel, e] : snapshot(root))
    if (e.find(':') != std::string::npos) set_mtime(root + "/" + rel, 1000 * n++);
}

JobReport undo_run(const std::string& root, bool force = false, const std::string& run = {}) {
  UndoPlan plan;
  plan.root = root;
  plan.force = force;
  plan.run = run;
  JobRecorder quiet;
  return UndoJob(plan).run(quiet);
}

const FileReport* row(const JobReport& r, const std::string& path) {
  for (const FileReport& f : r.files)
    if (f.path == path) return &f;
  return nullptr;
}

class Undo : public ::testing::Test {
 protected:
  std::string root() const { return tmp / "tree"; }
  JobReport convert(bool detect = false) {
    JobRecorder recorder;
    JobPlan plan = make_plan(root(), root(), "GBK", "UTF-8");
    plan.options.detect = detect;
    JobReport r = run_job(plan, &recorder);
    messages = recorder.messages;
    return r;
  }
  bool said(const std::string& part) const {
    return std::any_of(messages.begin(), messages.end(),
                       [&](const std::string& m) { return m.find(part) != std::string::npos; });
  }

  platform::ScopedSysIo scope;
  TempDir tmp;
  std::vector<std::string> messages;
};

// The whole tree comes back as it was: bytes, modes, times and hard links; only the files the
// run changed were kept; the store goes once everything is back. A run into another folder
// keeps nothing.
TEST_F(Undo, RealTreeComesBackExactly) {
  make_tree(root());
  const auto before = snapshot(root());
  // Into another folder the input is never touched: nothing to keep, no store anywhere.
  EXPECT_EQ(run_job(make_plan(root(), tmp / "out", "GBK", "UTF-8")).kept.files, 0u);
  EXPECT_FALSE(fs::exists(root() + "/" + undo::kStoreName));
  EXPECT_FALSE(fs::exists(tmp / ("out/" + std::string(undo::kStoreName))));
  const JobReport run = convert(/*detect=*/true);
  ASSERT_NE(snapshot(root()), before);
  // 模块.cpp (with its second name), 日本語.h, bom.txt (its mark dropped), u16.txt (read by its
  // mark), secret.txt, run.sh; not the ASCII, binary and undetected files left as they were.
  EXPECT_EQ(run.kept.files, 6u);
  EXPECT_EQ(run.kept.bytes, 21u + 20u + 10u + 6u + 10u + 25u);
  for (const char* kept : {"src/日本語.h", "docs/bom.txt", "docs/u16.txt", "secret.txt", "run.sh"})
    EXPECT_TRUE(outcome_is_done(row(run, kept)->outcome)) << kept << row(run, kept)->note;
  EXPECT_EQ(row(run, "bad/broken.txt")->outcome, Outcome::undetected);
  EXPECT_EQ(row(run, "bin/tool.bin")->outcome, Outcome::cannot_convert);
  const JobReport back = undo_run(root());
  EXPECT_EQ(back.failures(), 0u);
  EXPECT_EQ(back.undone, run.kept.run);
  EXPECT_EQ(back.counts()[static_cast<size_t>(Outcome::restored)], 6u);
  EXPECT_EQ(snapshot(root()), before);
  EXPECT_FALSE(fs::exists(root() + "/" + undo::kStoreName));
  EXPECT_TRUE(undo_run(root()).refusal.find("No conversion") != std::string::npos);
}

// A file changed since the run keeps its new text and is reported, also when forced; one
// deleted since stays deleted unless forced; the store stays while any file is not back.
TEST_F(Undo, FilesChangedOrDeletedSinceAreLeftAndReported) {
  make_tree(root());
  const auto before = snapshot(root());
  convert();
  write_file(root() + "/secret.txt", "mine now\n");
  ASSERT_EQ(::unlink((root() + "/run.sh").c_str()), 0);
  for (const bool force : {false, true}) {
    const JobReport back = undo_run(root(), force);
    ASSERT_TRUE(back.ran) << back.refusal;
    EXPECT_EQ(row(back, "secret.txt")->outcome, Outcome::changed_since) << force;
    EXPECT_EQ(row(back, "run.sh")->outcome, force ? Outcome::restored : Outcome::deleted_since);
    EXPECT_EQ(row(back, "src/日本語.h")->outcome, Outcome::restored);
    EXPECT_EQ(back.failures(), force ? 1u : 2u);
    EXPECT_EQ(read_file(root() + "/secret.txt"), "mine now\n");
    EXPECT_EQ(undo::list_runs(root()).size(), 1u);
  }
  auto now = snapshot(root());
  EXPECT_EQ(now.erase("secret.txt"), 1u);
  auto expected = before;
  expected.erase("secret.txt");
  EXPECT_EQ(now, expected);
}

// Where the old file cannot be given a second name in the store it is kept as a reflink, else
// as a copy; each way comes back exactly. Without a way to keep it, a file is not converted.
TEST_F(Undo, EveryWayOfKeepingComesBackAndNoWayConvertsNothing) {
  struct Way {
    const char* name;
    int link_error;  // 0: the real link
    bool reflink;    // a clone that works (copied here, as no file system here shares data)
    int copy_error;  // copy_file_range and pwrite fail with it
    const char* kept_as;
  };
  static int copy_error = 0;
  const auto fake_clone = [](int to, int from) -> int {
    off_t in = 0, out = 0;
    const ssize_t n = platform::real_sysio().copy_file_range(from, &in, to, &out, 1 << 20, 0);
    return n < 0 ? -1 : 0;
  };
  for (const Way way :
       {Way{"link", 0, false, 0, "link"}, Way{"reflink", EPERM, true, 0, "reflink"},
        Way{"copy", EXDEV, false, 0, "copy"}, Way{"no room", EXDEV, false, ENOSPC, nullptr}}) {
    TempDir t;
    const std::string tree = t / "tree";
    make_tree(tree);
    const auto before = snapshot(tree);
    platform::SysIo& io = platform::sysio();
    io = platform::real_sysio();
    static int link_error = 0;
    link_error = way.link_error;
    copy_error = way.copy_error;
    if (link_error != 0)
      io.link = [](const char*, const char*) {
        errno = link_error;
        return -1;
      };
    io.ficlone = way.reflink ? +fake_clone : [](int, int) {
      errno = EOPNOTSUPP;
      return -1;
    };
    if (copy_error != 0) {
      io.copy_file_range = [](int, off_t*, int, off_t*, size_t, unsigned) -> ssize_t {
        errno = copy_error;
        return -1;
      };
      io.pwrite = [](int, const void*, size_t, off_t) -> ssize_t {
        errno = copy_error;
        return -1;
      };
    }
    const JobReport run = run_job(make_plan(tree, tree, "GBK", "UTF-8"));
    io = platform::real_sysio();
    if (way.kept_as == nullptr) {
      // No way back: nothing converted, each file says why, nothing left in the store.
      EXPECT_EQ(row(run, "secret.txt")->outcome, Outcome::cannot_write) << way.name;
      EXPECT_EQ(row(run, "secret.txt")->error, ENOSPC);
      EXPECT_NE(row(run, "secret.txt")->note.find("cannot be kept for undo"), std::string::npos);
      EXPECT_EQ(snapshot(tree), before);
      EXPECT_TRUE(undo::list_runs(tree).empty());
      continue;
    }
    const std::vector<undo::RunSummary> runs = undo::list_runs(tree);
    ASSERT_EQ(runs.size(), 1u) << way.name;
    const platform::Result<undo::Manifest> m =
        undo::read_manifest(undo::manifest_path(runs[0].dir));
    ASSERT_TRUE(m && m->files.size() == 4u) << way.name;  // what GBK reads, changed
    for (const undo::KeptFile& k : m->files)
      EXPECT_EQ(undo::kept_by_name(k.how), way.kept_as) << way.name << " " << k.path;
    EXPECT_EQ(undo_run(tree).failures(), 0u) << way.name;
    EXPECT_EQ(snapshot(tree), before) << way.name;
  }
}

// A root that cannot be written keeps its store beside it, where the undo finds it; where no
// store can be made at all, nothing is converted unless undo is turned off.
TEST_F(Undo, StoreBesideAReadOnlyRootOrNoConversion) {
  static bool beside_too = false;
  for (const bool beside_fails : {false, true}) {
    TempDir t;
    const std::string tree = t / "tree";
    make_tree(tree);
    const auto before = snapshot(tree);
    beside_too = beside_fails;
    platform::sysio().mkdir = [](const char* path, mode_t mode) {
      const std::string p = path;
      const bool inside = p.size() > 11 && p.compare(p.size() - 12, 12, "/.ouzel-undo") == 0;
      if (inside || (beside_too && p.find(".tree.ouzel-undo") != std::string::npos)) {
        errno = inside ? EACCES : EROFS;
        return -1;
      }
      return platform::real_sysio().mkdir(path, mode);
    };
    JobPlan plan = make_plan(tree, tree, "GBK", "UTF-8");
    const JobReport run = run_job(plan);
    if (!beside_fails) {
      EXPECT_EQ(run.kept.dir.rfind(t / ".tree.ouzel-undo/", 0), 0u) << run.kept.dir;
      EXPECT_EQ(run.failures(), 3u);  // broken.txt, and the two marked files
      EXPECT_EQ(undo_run(tree).failures(), 0u);
      EXPECT_EQ(snapshot(tree), before);
      EXPECT_FALSE(fs::exists(t / ".tree.ouzel-undo"));
      continue;
    }
    EXPECT_EQ(row(run, "run.sh")->outcome, Outcome::cannot_write);
    EXPECT_EQ(row(run, "run.sh")->error, EACCES);
    EXPECT_EQ(snapshot(tree), before);
    plan.options.undo = false;
    EXPECT_EQ(run_job(plan).failures(), 3u);
    EXPECT_NE(snapshot(tree), before);
  }
}

// Each run is its own step back, newest first; the store keeps the last N runs and at most so
// many bytes, dropping the oldest with a line for the log, never the run just made.
TEST_F(Undo, RunsAreBoundedAndUndoneNewestFirst) {
  write_file(root() + "/a.txt", kGbk);
  std::vector<std::string> states{read_file(root() + "/a.txt")};
  JobPlan plan = make_plan(root(), root(), "GBK", "UTF-8");
  plan.options.undo_limits.runs = 2;
  for (int i = 0; i < 3; ++i) {
    std::swap(plan.source, plan.target);  // back and forth: each run changes the file
    if (i == 0) std::swap(plan.source, plan.target);
    JobRecorder recorder;
    EXPECT_EQ(run_job(plan, &recorder).kept.files, 1u);
    messages = recorder.messages;
    states.push_back(read_file(root() + "/a.txt"));
  }
  EXPECT_TRUE(said("only the last 2 runs are kept"));
  const std::vector<undo::RunSummary> runs = undo::list_runs(root());
  ASSERT_EQ(runs.size(), 2u);
  // A run in progress elsewhere is not undone meanwhile.
  {
    undo::RunLock held;
    ASSERT_TRUE(held.take(runs[1].dir));
    EXPECT_NE(undo_run(root()).refusal.find("in progress"), std::string::npos);
  }
  EXPECT_EQ(undo_run(root()).failures(), 0u);
  EXPECT_EQ(read_file(root() + "/a.txt"), states[2]);
  EXPECT_EQ(undo_run(root()).failures(), 0u);
  EXPECT_EQ(read_file(root() + "/a.txt"), states[1]);
  EXPECT_TRUE(undo::list_runs(root()).empty());
  // One byte at most: every older run goes at once, the new one stays.
  plan.options.undo_limits = {10, 1};
  for (int i = 0; i < 3; ++i) {
    std::swap(plan.source, plan.target);
    run_job(plan);
  }
  EXPECT_EQ(undo::list_runs(root()).size(), 1u);
}

// A run killed between keeping a file under a second name and replacing it leaves that name:
// the next run lets it go instead of taking the file for one linked from outside the tree,
// and an undo of the killed run finds the file as it was.
TEST_F(Undo, InterruptedRunIsTidiedByTheNext) {
  write_file(root() + "/a.txt", kGbk);
  {
    undo::Recorder killed(root(), "", "GBK", "UTF-8", {}, /*durable=*/false);
    undo::KeepRequest keep;
    keep.path = root() + "/a.txt";
    keep.relative = "a.txt";
    keep.stamp = *platform::stamp_file(keep.path);
    keep.old_size = kGbk.size();
    platform::FileStamp after;
    ASSERT_EQ(killed.keep(keep, after), 0);
    EXPECT_EQ(after.links, 2u);
  }  // no last record: as after a kill
  const std::vector<undo::RunSummary> runs = undo::list_runs(root());
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_FALSE(runs[0].manifest.finished);
  const JobReport r = convert();
  EXPECT_EQ(r.files[0].outcome, Outcome::converted) << r.files[0].note;
  EXPECT_TRUE(said("was interrupted: 1 files it kept but never replaced are let go"));
  EXPECT_EQ(undo_run(root()).failures(), 0u);  // the run just made
  const JobReport killed_run = undo_run(root(), false, runs[0].id);
  EXPECT_EQ(killed_run.failures(), 0u);
  EXPECT_EQ(read_file(root() + "/a.txt"), kGbk);
  EXPECT_TRUE(undo::list_runs(root()).empty());
}

// A file written to between its reading and its keeping is not converted, and nothing of it
// is kept.
TEST_F(Undo, FileWrittenBeforeItIsKeptIsLeftAlone) {
  static std::string victim;
  victim = root() + "/a.txt";
  write_file(victim, kGbk);
  platform::sysio().link = [](const char* from, const char* to) {
    write_file(victim, kGbk + "more\n");
    return platform::real_sysio().link(from, to);
  };
  const JobReport r = convert();
  EXPECT_EQ(r.files[0].outcome, Outcome::changed);
  EXPECT_EQ(read_file(victim), kGbk + "more\n");
  EXPECT_TRUE(undo::list_runs(root()).empty());
}

// Names with any byte survive the manifest; a line cut short or damaged is passed over.
TEST(UndoManifest, RecordsSurviveOddNamesAndDamage) {
  undo::KeptFile k;
  k.number = 7;
  k.path = "a\tb\nc\\d.txt";
  k.links = {"x\\ty", ""};
  k.mode = 0755;
  k.mtime_ns = -5;
  k.old_hash = undo::hash_of("old");
  k.outcome = "converted";
  const std::string head = undo::header_records({"20260101-000000", 1, "/r", "GBK", "UTF-8"});
  std::string damaged = undo::keep_record(k);
  damaged[10] ^= 1;
  const std::string text = head + damaged + undo::keep_record(k) + undo::void_record(8) +
                           undo::end_record(9, true, 1, 0) + undo::keep_record(k).substr(0, 20);
  const platform::Result<undo::Manifest> m = undo::parse_manifest(text);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->files.size(), 1u);
  EXPECT_EQ(m->files[0].path, k.path);
  EXPECT_EQ(m->files[0].links, k.links);
  EXPECT_EQ(m->files[0].mode, 0755u);
  EXPECT_EQ(m->files[0].mtime_ns, -5);
  EXPECT_EQ(m->files[0].old_hash, k.old_hash);
  EXPECT_TRUE(m->finished && m->stopped);
  EXPECT_FALSE(undo::parse_manifest(damaged + undo::keep_record(k)));
}

}  // namespace
