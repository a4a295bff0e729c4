// A run that cannot work is refused with one line before it makes any directory or file.
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "job/job.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"
#include "util/strfmt.h"

using namespace testing_support;

namespace {

const std::string kGbk = "\xD6\xD0\xCE\xC4\n";

// An output directory so deep that a target's path would pass PATH_MAX, though each of its
// names is short enough: refused, nothing made, one message saying which file and why.
TEST(RunChecks, OutputPathsLongerThanPathMaxAreRefusedFirst) {
  TempDir tmp;
  write_file(tmp / "in/sub/a.txt", kGbk);
  std::string out = tmp / "out";
  while (out.size() < PATH_MAX - 8) out += "/" + std::string(200, 'd');
  JobRecorder rec;
  const JobReport r = run_job(make_plan(tmp / "in", out, "GBK", "UTF-8"), &rec);
  EXPECT_FALSE(r.ran);
  EXPECT_TRUE(r.files.empty());
  EXPECT_NE(r.refusal.find("the output path of sub/a.txt would be"), std::string::npos)
      << r.refusal;
  EXPECT_FALSE(file_exists(tmp / "out"));
  EXPECT_EQ(std::count(rec.messages.begin(), rec.messages.end(), r.refusal), 1);

  // The same tree into a short output goes through.
  const JobReport ok = run_job(make_plan(tmp / "in", tmp / "short", "GBK", "UTF-8"));
  EXPECT_TRUE(ok.ran);
  EXPECT_EQ(ok.failures(), 0u);
}

// An output below a file, or with a name longer than NAME_MAX: refused, nothing made. A dry
// run writes nothing and is not refused.
TEST(RunChecks, OutputThatCannotBeMadeIsRefusedFirst) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", kGbk);
  write_file(tmp / "file", "x");
  JobReport r = run_job(make_plan(tmp / "in", tmp / "file/out", "GBK", "UTF-8"));
  EXPECT_FALSE(r.ran);
  EXPECT_NE(r.refusal.find("file is not a directory"), std::string::npos) << r.refusal;
  EXPECT_EQ(read_file(tmp / "file"), "x");

  const std::string long_name = tmp / ("new/" + std::string(NAME_MAX + 1, 'n'));
  r = run_job(make_plan(tmp / "in", long_name, "GBK", "UTF-8"));
  EXPECT_FALSE(r.ran);
  EXPECT_NE(r.refusal.find("longer than"), std::string::npos) << r.refusal;
  EXPECT_FALSE(file_exists(tmp / "new"));

  JobPlan dry = make_plan(tmp / "in", tmp / "file/out", "GBK", "UTF-8");
  dry.options.dry_run = true;
  EXPECT_TRUE(run_job(dry).ran);
}

// An output directory the run may not write in (unreachable as root without the seam): refused
// with the reason, nothing written into it.
TEST(RunChecks, OutputWithoutWritePermissionIsRefusedFirst) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", kGbk);
  ASSERT_EQ(::mkdir((tmp / "out").c_str(), 0755), 0);
  JobReport r;
  {
    platform::ScopedSysIo restore;
    platform::sysio().access = [](const char* path, int mode) {
      const std::string p(path);
      if ((mode & W_OK) && p.size() >= 4 && p.compare(p.size() - 4, 4, "/out") == 0) {
        errno = EACCES;
        return -1;
      }
      return ::access(path, mode);
    };
    r = run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"));
  }
  EXPECT_FALSE(r.ran);
  EXPECT_NE(r.refusal.find("cannot write in " + tmp / "out"), std::string::npos) << r.refusal;
  EXPECT_NE(r.refusal.find(errno_text(EACCES)), std::string::npos) << r.refusal;
  EXPECT_FALSE(file_exists(tmp / "out/a.txt"));
}

// An input folder below the output: a target such as out/b/f.txt for the input's b/b/f.txt is
// the input's own b/f.txt, which would be written over. Refused before anything is written; an
// input beside the output, or below it with no target landing in it, goes through.
TEST(RunChecks, TargetsLandingInTheInputAreRefusedFirst) {
  TempDir tmp;
  write_file(tmp / "b/f.txt", "\xD6\xD0\xCE\xC4 top\n");
  write_file(tmp / "b/b/f.txt", kGbk);
  JobRecorder rec;
  const JobReport r = run_job(make_plan(tmp / "b", tmp.path(), "GBK", "UTF-8"), &rec);
  EXPECT_FALSE(r.ran);
  EXPECT_NE(r.refusal.find("inside the input directory"), std::string::npos) << r.refusal;
  EXPECT_NE(r.refusal.find("b/f.txt"), std::string::npos) << r.refusal;
  EXPECT_EQ(read_file(tmp / "b/f.txt"), "\xD6\xD0\xCE\xC4 top\n");
  EXPECT_EQ(read_file(tmp / "b/b/f.txt"), kGbk);
  EXPECT_EQ(std::count(rec.messages.begin(), rec.messages.end(), r.refusal), 1);

  // The same spelled with a trailing slash and a dot is the same folder.
  EXPECT_FALSE(run_job(make_plan(tmp / "b/./", tmp / ".", "GBK", "UTF-8")).ran);

  // The output named through a link to it: the same folder, refused all the same.
  ASSERT_EQ(::symlink(tmp.path().c_str(), (tmp / "link").c_str()), 0);
  const JobReport linked = run_job(make_plan(tmp / "b", tmp / "link", "GBK", "UTF-8"));
  EXPECT_FALSE(linked.ran);
  EXPECT_NE(linked.refusal.find("inside the input directory"), std::string::npos) << linked.refusal;
  EXPECT_EQ(read_file(tmp / "b/f.txt"), "\xD6\xD0\xCE\xC4 top\n");

  // Below the output with no target inside itself: converted.
  write_file(tmp / "c/g.txt", kGbk);
  const JobReport ok = run_job(make_plan(tmp / "c", tmp.path(), "GBK", "UTF-8"));
  EXPECT_TRUE(ok.ran);
  EXPECT_EQ(ok.failures(), 0u);
  EXPECT_EQ(read_file(tmp / "g.txt"), "\xE4\xB8\xAD\xE6\x96\x87\n");
  EXPECT_EQ(read_file(tmp / "c/g.txt"), kGbk);
}

// A report that would be written over one of the run's files (a source, a target, the file a
// link of the tree leads to, however spelled) is refused before anything is read or made, also
// when the run writes nothing; one beside them goes through.
TEST(RunChecks, ReportOverAFileOfTheRunIsRefusedFirst) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", kGbk);
  write_file(tmp / "in/sub/notes.txt", "my notes\n");
  write_file(tmp / "elsewhere/kept.txt", "kept\n");
  ASSERT_EQ(::mkdir((tmp / "out").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((tmp / "out/sub").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((tmp / "elsewhere/kept.txt").c_str(), (tmp / "in/sub/link.txt").c_str()), 0);
  ASSERT_EQ(::symlink((tmp / "in/a.txt").c_str(), (tmp / "to-a.csv").c_str()), 0);
  struct Case {
    const char* report;
    bool in_place, dry;
    const char* over;
  };
  const Case cases[] = {
      {"in/sub/notes.txt", true, false, "sub/notes.txt"},    // in place: a source and target
      {"in/sub/../a.txt", false, false, "a.txt"},            // a source of a fresh run
      {"out/sub/notes.txt", false, false, "sub/notes.txt"},  // a target not made yet
      {"elsewhere/kept.txt", false, false, "sub/link.txt"},  // a link of the tree leads to it
      {"to-a.csv", false, false, "a.txt"},                   // written through to a source
      {"in/a.txt", false, true, "a.txt"},                    // a run that writes nothing else
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    JobPlan plan = make_plan(tmp / "in", c.in_place ? tmp / "in" : tmp / "out", "GBK", "UTF-8");
    plan.report = tmp / c.report;
    plan.options.dry_run = c.dry;
    JobRecorder rec;
    const JobReport r = run_job(plan, &rec);
    EXPECT_FALSE(r.ran);
    EXPECT_NE(r.refusal.find(std::string("would be written over ") + c.over), std::string::npos)
        << r.refusal;
    EXPECT_EQ(std::count(rec.messages.begin(), rec.messages.end(), r.refusal), 1);
    EXPECT_EQ(read_file(tmp / "in/a.txt"), kGbk);
    EXPECT_EQ(list_tree(tmp / "out"), std::vector<std::string>{});
  }
  JobPlan beside = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  beside.report = tmp / "out/report.csv";
  EXPECT_TRUE(run_job(beside).ran);
}

}  // namespace
