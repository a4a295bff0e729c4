// The error model through the seam: each failure carries its errno and names the operation and
// the path, what it leaves behind is unchanged, and an interrupted call is retried.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "config/settings_aside.h"
#include "platform/fs.h"
#include "platform/fsutil.h"
#include "platform/publisher.h"
#include "platform/result.h"
#include "platform/spawn.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

namespace fake {
int reads = 0;
int open_eacces(const char*, int, mode_t) {
  errno = EACCES;
  return -1;
}
ssize_t read_eintr_once(int fd, void* buf, size_t n) {
  if (reads++ == 0) {
    errno = EINTR;
    return -1;
  }
  return platform::real_sysio().read(fd, buf, n);
}
ssize_t read_eio(int, void*, size_t) {
  errno = EIO;
  return -1;
}
ssize_t write_enospc(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}
int linkat_emlink(int, const char*, int, const char*, int) {
  errno = EMLINK;
  return -1;
}
int rename_enospc(const char*, const char*) {
  errno = ENOSPC;
  return -1;
}
int renameat2_eacces(int, const char*, int, const char*, unsigned) {
  errno = EACCES;
  return -1;
}
}  // namespace fake

// What a person reads: the operation with its path, then the errno with its text.
std::string said(int err, const std::string& context) { return context + ": " + errno_text(err); }

TEST(ResultModel, ValueOrErrorAndItsMessage) {
  const platform::Result<int> value = 7;
  ASSERT_TRUE(value);
  EXPECT_EQ(*value, 7);
  EXPECT_EQ(value.err(), 0);
  const platform::Result<int> failed = platform::Error{ENOENT, "open /x"};
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.err(), ENOENT);
  EXPECT_EQ(failed.value_or(-1), -1);
  EXPECT_EQ(failed.error().message(), "open /x: " + errno_text(ENOENT));
  EXPECT_EQ((platform::Error{EIO, ""}.message()), errno_text(EIO));
  const platform::Status done;
  EXPECT_TRUE(done);
  const platform::Status refused = platform::Error{EACCES, "write /y"};
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.error().message(), "write /y: 13 (Permission denied)");
}

// A read that cannot open, is interrupted, or fails midway: the path and operation named,
// nothing half read handed back; EINTR is retried, not reported.
TEST(ResultModel, ReadFileFailuresNameThePath) {
  TempDir tmp;
  const std::string path = tmp / "a.txt";
  write_file(path, "content");
  std::string content = "old";
  platform::ScopedSysIo scope;
  platform::sysio().open = fake::open_eacces;
  platform::Status read = platform::read_file(path, content);
  EXPECT_EQ(read.err(), EACCES);
  EXPECT_EQ(read.error().message(), said(EACCES, "open " + path));
  EXPECT_EQ(content, "");

  platform::sysio() = platform::real_sysio();
  platform::sysio().read = fake::read_eio;
  read = platform::read_file(path, content);
  EXPECT_EQ(read.error().message(), said(EIO, "read " + path));
  EXPECT_EQ(content, "");

  fake::reads = 0;
  platform::sysio().read = fake::read_eintr_once;
  EXPECT_TRUE(platform::read_file(path, content));
  EXPECT_EQ(content, "content");
  EXPECT_GE(fake::reads, 2);

  platform::sysio() = platform::real_sysio();
  read = platform::read_file(path, content, 3);
  EXPECT_EQ(read.error().message(), said(EFBIG, "read " + path));
  const platform::Result<platform::FileStamp> stamp = platform::stamp_file(tmp / "none");
  EXPECT_EQ(stamp.error().message(), said(ENOENT, "stat " + (tmp / "none")));
  EXPECT_EQ(platform::path_kind(tmp / "none").err(), ENOENT);
  EXPECT_EQ(platform::path_kind(path).value_or(platform::PathKind::other),
            platform::PathKind::file);
}

// A safe write that runs out of space or may not open names the target, and the old content
// stays whole.
TEST(ResultModel, WriteTargetFailuresLeaveTheOldContent) {
  TempDir tmp;
  const std::string path = tmp / "t.txt";
  write_file(path, "old");
  {
    platform::ScopedSysIo scope;
    platform::sysio().write = fake::write_enospc;
    const platform::Status written = platform::write_file_safely(path, "new content");
    EXPECT_EQ(written.error().message(), said(ENOSPC, "write " + path));
  }
  EXPECT_EQ(read_file(path), "old");
  EXPECT_EQ(list_dir(tmp.path()), std::vector<std::string>{"t.txt"});
  const platform::Status into_dir = platform::write_file_safely(tmp.path(), "x");
  EXPECT_EQ(into_dir.error().message(), said(EISDIR, "open " + tmp.path() + " for writing"));
}

// relink failing at either step says which, and leaves the name and the directory as they were.
TEST(ResultModel, RelinkFailuresLeaveTheName) {
  TempDir tmp;
  write_file(tmp / "new", "new");
  write_file(tmp / "name", "old");
  platform::ScopedSysIo scope;
  platform::sysio().linkat = fake::linkat_emlink;
  platform::Status linked = platform::relink(tmp / "new", tmp / "name");
  EXPECT_EQ(linked.error().message(),
            said(EMLINK, "link " + (tmp / "new") + " to " + (tmp / "name.ouzel-link")));
  platform::sysio() = platform::real_sysio();
  platform::sysio().rename = fake::rename_enospc;
  linked = platform::relink(tmp / "new", tmp / "name");
  EXPECT_EQ(linked.error().message(),
            said(ENOSPC, "rename " + (tmp / "name.ouzel-link") + " to " + (tmp / "name")));
  EXPECT_EQ(read_file(tmp / "name"), "old");
  EXPECT_EQ(list_dir(tmp.path()), (std::vector<std::string>{"name", "new"}));
}

// An unreadable settings file that cannot be moved aside: nothing is written, and the lines a
// person reads say why; a save that works names the file.
TEST(ResultModel, SaveConfigOutcomeAsLines) {
  TempDir tmp;
  const std::string path = tmp / "ouzel.yml";
  write_file(path, "{ not: [settings");
  ConvertConfig config;
  const EncodingList encodings = {"GBK", "UTF-8"};
  ASSERT_FALSE(load_config(config, encodings, path).empty());
  {
    platform::ScopedSysIo scope;
    platform::sysio().renameat2 = fake::renameat2_eacces;
    const platform::Result<SavedConfig> saved = save_config(config, encodings);
    EXPECT_EQ(saved.err(), EACCES);
    EXPECT_EQ(
        save_config_lines(saved, path),
        (std::vector<std::string>{"save config failed, error: " + errno_text(EACCES),
                                  "the unreadable settings file " + path + " is left as it was"}));
  }
  EXPECT_EQ(read_file(path), "{ not: [settings");
  const platform::Result<SavedConfig> saved = save_config(config, encodings);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->kept_as, path + ".bad");
  EXPECT_EQ(read_file(path + ".bad"), "{ not: [settings");
  EXPECT_EQ(save_config_lines(saved, path).back(), "save config to file " + path + " success");
  EXPECT_EQ(move_aside(tmp / "none").error().message(), said(ENOENT, "stat " + (tmp / "none")));
}

TEST(ResultModel, ProcessesAndSearchPath) {
  EXPECT_EQ(platform::find_in_path("ouzel-no-such-program").error().message(),
            said(ENOENT, "find ouzel-no-such-program in $PATH"));
  const platform::Result<platform::captured_run> ran = platform::run_captured("true", {"true"});
  ASSERT_TRUE(ran);
  EXPECT_EQ(ran->exit_status, 0);
  const platform::Result<platform::captured_run> missing =
      platform::run_captured("ouzel-no-such-program", {"ouzel-no-such-program"});
  EXPECT_EQ(missing.error().message(), said(ENOENT, "start ouzel-no-such-program"));
  EXPECT_EQ(platform::spawn_detached({}).err(), EINVAL);
}

// A relative path cannot be resolved once the working directory is gone: the errno says so
// rather than an empty path that every other path starts with.
TEST(ResultModel, FullPathWithoutWorkingDirectory) {
  char* here = ::getcwd(nullptr, 0);
  ASSERT_NE(here, nullptr);
  {
    TempDir tmp;
    ASSERT_EQ(::mkdir((tmp / "gone").c_str(), 0700), 0);
    ASSERT_EQ(::chdir((tmp / "gone").c_str()), 0);
    ASSERT_EQ(::rmdir((tmp / "gone").c_str()), 0);
    const platform::Result<std::string> full = fsutil::full_path("a.txt");
    EXPECT_EQ(full.error().message(), said(ENOENT, "resolve the path a.txt"));
    EXPECT_EQ(fsutil::full_path("/a/./b").value_or(""), "/a/b");
    EXPECT_EQ(::chdir(here), 0);
  }
  std::free(here);
}

}  // namespace
