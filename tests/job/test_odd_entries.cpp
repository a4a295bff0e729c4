// Entries of a tree that are no plain files to convert: each gets its report row and is left
// alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "job/job.h"
#include "job/job_messages.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::string kGbk = "\xD6\xD0\xCE\xC4\n";

// Dangling links, link loops, FIFOs, sockets and devices (here through a link) each get a
// `skipped` row saying what they are, are counted, fail nothing and are left as they are;
// hidden ones and links to directories stay unreported as before.
TEST(OddEntries, EverySpecialEntryIsReportedSkipped) {
  TempDir tmp;
  const std::string in = tmp / "in";
  write_file(in + "/a.txt", kGbk);
  ASSERT_EQ(::symlink("missing.txt", (in + "/dangling.txt").c_str()), 0);
  ASSERT_EQ(::symlink("loop2.txt", (in + "/loop1.txt").c_str()), 0);
  ASSERT_EQ(::symlink("loop1.txt", (in + "/loop2.txt").c_str()), 0);
  write_file(in + "/sub/b.txt", kGbk);
  ASSERT_EQ(::mkfifo((in + "/sub/pipe.txt").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((in + "/.hidden-pipe").c_str(), 0644), 0);
  make_socket(in + "/sock");
  ASSERT_EQ(::symlink("/dev/null", (in + "/null").c_str()), 0);
  ASSERT_EQ(::symlink("sub", (in + "/dirlink").c_str()), 0);

  for (const bool in_place : {false, true}) {
    SCOPED_TRACE(in_place);
    JobRecorder rec;
    const JobReport r = run_job(make_plan(in, in_place ? in : tmp / "out", "GBK", "UTF-8"), &rec);
    const std::pair<const char*, const char*> want[] = {
        {"dangling.txt", "is a link to nothing (dangling)"},
        {"loop1.txt", "is a link loop"},
        {"loop2.txt", "is a link loop"},
        {"sub/pipe.txt", "is a FIFO"},
        {"sock", "is a socket"},
        {"null", "is a device"}};
    for (const auto& [path, note] : want) {
      const FileReport* e = entry_for(r, path);
      ASSERT_NE(e, nullptr) << path;
      EXPECT_EQ(e->outcome, Outcome::skipped) << path;
      EXPECT_EQ(e->note, note) << path;
    }
    EXPECT_EQ(r.files.size(), 8u);  // the six, a.txt and sub/b.txt
    EXPECT_EQ(entry_for(r, "a.txt")->outcome, Outcome::converted);
    EXPECT_EQ(r.counts()[static_cast<size_t>(Outcome::skipped)], 6u);
    EXPECT_EQ(r.failures(), 0u);
    const std::vector<std::string> summary = summary_lines(r);
    ASSERT_FALSE(summary.empty());
    EXPECT_NE(summary[0].find("skipped: 6"), std::string::npos) << summary[0];
    struct stat st;
    ASSERT_EQ(::lstat((in + "/sub/pipe.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat((in + "/dangling.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    if (!in_place) {
      EXPECT_EQ(list_tree(tmp / "out"), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
    }
  }
}

// A filter that does not accept the odd entry leaves it out like any file.
TEST(OddEntries, FilterAppliesToSkippedEntries) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", kGbk);
  ASSERT_EQ(::mkfifo((tmp / "in/pipe.fifo").c_str(), 0644), 0);
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  plan.filter = "*.txt";
  const JobReport r = run_job(plan);
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].path, "a.txt");
}

}  // namespace

namespace {

// In place, a file with a hard link the run does not reach (outside the tree, or a hidden
// name) is left alone as `outside`, both names keeping the old text, and the detail says why;
// hard links that are all inside the tree are converted together as before.
TEST(OddEntries, HardLinkWithANameOutsideIsLeftAlone) {
  TempDir tmp;
  const std::string in = tmp / "in";
  write_file(in + "/a.txt", kGbk);
  ASSERT_EQ(::link((in + "/a.txt").c_str(), (tmp / "outside.txt").c_str()), 0);
  write_file(in + "/b.txt", kGbk);
  ASSERT_EQ(::link((in + "/b.txt").c_str(), (in + "/.b-hidden").c_str()), 0);
  write_file(in + "/c.txt", kGbk);
  write_file(in + "/sub/keep.txt", "");
  ASSERT_EQ(::link((in + "/c.txt").c_str(), (in + "/sub/c2.txt").c_str()), 0);

  const JobReport r = run_job(make_plan(in, in, "GBK", "UTF-8"));
  for (const char* path : {"a.txt", "b.txt"}) {
    const FileReport* e = entry_for(r, path);
    ASSERT_NE(e, nullptr) << path;
    EXPECT_EQ(e->outcome, Outcome::outside) << path;
    EXPECT_EQ(e->note,
              "is a hard link: 1 of its 2 names are outside the files converted, which would "
              "keep the old text")
        << path;
  }
  EXPECT_EQ(read_file(in + "/a.txt"), kGbk);
  EXPECT_EQ(read_file(tmp / "outside.txt"), kGbk);
  EXPECT_EQ(read_file(in + "/b.txt"), kGbk);
  EXPECT_EQ(read_file(in + "/.b-hidden"), kGbk);
  const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87\n";
  EXPECT_EQ(read_file(in + "/c.txt"), utf8);
  EXPECT_EQ(read_file(in + "/sub/c2.txt"), utf8);
  struct stat one, two;
  ASSERT_EQ(::stat((in + "/c.txt").c_str(), &one), 0);
  ASSERT_EQ(::stat((in + "/sub/c2.txt").c_str(), &two), 0);
  EXPECT_EQ(one.st_ino, two.st_ino);
}

}  // namespace
