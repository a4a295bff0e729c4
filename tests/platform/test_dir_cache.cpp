// Folders kept open for the names in them: the same folder is opened once, a failure falls
// back to whole paths, and a source or target opened in a kept folder still goes through the
// seam, so a failure there is reported like any other.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "job/job.h"
#include "platform/dir_cache.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

namespace {
using namespace testing_support;

std::atomic<int> dir_opens{0};

int counting_open(const char* path, int flags, mode_t mode) {
  if ((flags & O_PATH) != 0) ++dir_opens;
  return platform::real_sysio().open(path, flags, mode);
}

TEST(DirCache, OpensEachFolderOnceInARowAndFailsSoftly) {
  platform::ScopedSysIo scope;
  TempDir tmp;
  write_file(tmp / "a/f", "x");
  write_file(tmp / "b/f", "x");
  platform::sysio().open = counting_open;
  dir_opens = 0;
  platform::DirCache cache;
  const int a = cache.fd_for(tmp / "a");
  ASSERT_GE(a, 0);
  EXPECT_EQ(cache.fd_for(tmp / "a"), a);
  EXPECT_EQ(dir_opens.load(), 1);
  EXPECT_GE(cache.fd_for(tmp / "b"), 0);
  EXPECT_EQ(dir_opens.load(), 2);
  EXPECT_EQ(cache.fd_for(tmp / "missing"), -1);
  EXPECT_GE(cache.fd_for(tmp / "a"), 0) << "a failure is not remembered";
}

const char* failing_name = "bad.txt";

int openat_failing(int dir_fd, const char* name, int flags, mode_t mode) {
  if (strcmp(name, failing_name) == 0) {
    errno = EIO;
    return -1;
  }
  return platform::real_sysio().openat(dir_fd, name, flags, mode);
}

// One source and one staged target that cannot be opened in their kept folders: each fails
// alone with its errno, the rest of the tree converts.
TEST(DirCache, FailuresInKeptFoldersAreReportedPerFile) {
  const std::string gbk = "\xD6\xD0\xCE\xC4\n";  // 中文
  for (const int flags : {O_RDONLY, O_WRONLY}) {
    platform::ScopedSysIo scope;
    TempDir tmp;
    write_file(tmp / "in/sub/bad.txt", gbk);
    write_file(tmp / "in/sub/good.txt", gbk);
    platform::sysio().openat = openat_failing;
    if (flags == O_WRONLY)
      platform::sysio().openat = [](int dir_fd, const char* name, int f, mode_t mode) {
        return (f & O_ACCMODE) == O_WRONLY ? openat_failing(dir_fd, name, f, mode)
                                           : platform::real_sysio().openat(dir_fd, name, f, mode);
      };
    const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"));
    const FileReport* bad = entry_for(r, "sub/bad.txt");
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->outcome, flags == O_RDONLY ? Outcome::cannot_read : Outcome::cannot_write)
        << outcome_name(bad->outcome);
    EXPECT_EQ(bad->error, EIO);
    EXPECT_EQ(entry_for(r, "sub/good.txt")->outcome, Outcome::converted);
    EXPECT_EQ(read_tree(tmp / "out"),
              (std::map<std::string, std::string>{{"sub/good.txt", "\xE4\xB8\xAD\xE6\x96\x87\n"}}));
  }
}

}  // namespace
