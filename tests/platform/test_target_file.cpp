// Crash-safe targets: published whole or not at all, metadata and link policies, failures
// through the seam leaving nothing behind, with unnamed and with named temporary files; and the
// removal of a killed run's leftovers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/leftovers.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "platform/temp_name.h"
#include "tests/support/test_support.h"

using namespace testing_support;
using platform::LinkPolicy;
using platform::TargetFile;
using Names = std::vector<std::string>;

namespace {

namespace fake {
int calls = 0;
int open_no_tmpfile(const char* path, int flags, mode_t mode) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return platform::real_sysio().open(path, flags, mode);
}
ssize_t write_enospc(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}
ssize_t write_interrupted(int fd, const void* buf, size_t n) {
  if (++calls % 2 == 1) {
    errno = EINTR;
    return -1;
  }
  return platform::real_sysio().write(fd, buf, n);
}
int rename_exdev(const char*, const char*) {
  errno = EXDEV;
  return -1;
}
int linkat_eio(int, const char*, int, const char*, int) {
  errno = EIO;
  return -1;
}
// A kernel that names an open file only by its /proc name (before 6.10, unprivileged).
int linkat_no_empty_path(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  if ((flags & AT_EMPTY_PATH) != 0) {
    errno = ENOENT;
    return -1;
  }
  return platform::real_sysio().linkat(from_dir, from, to_dir, to, flags);
}
// The first close reports EIO (the descriptor is released all the same).
int close_eio_once(int fd) {
  platform::real_sysio().close(fd);
  if (calls++ > 0) return 0;
  errno = EIO;
  return -1;
}
}  // namespace fake

mode_t current_umask() {
  const mode_t m = ::umask(022);
  ::umask(m);
  return m;
}

bool is_link(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Every case runs with unnamed temporary files (O_TMPFILE) and with named ones, the way of
// file systems that have no unnamed files.
class Targets : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (named()) platform::sysio().open = fake::open_no_tmpfile;
    fake::calls = 0;
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  }
  bool named() const { return GetParam(); }
  // Writes `data` in two appends and commits.
  int write(const std::string& path, const std::string& data,
            LinkPolicy links = LinkPolicy::replace_link) {
    TargetFile file;
    if (int err = file.open(path, links).err()) return err;
    if (int err = file.append(data.substr(0, data.size() / 2))) return err;
    if (int err = file.append(data.substr(data.size() / 2))) return err;
    return file.commit();
  }

  platform::ScopedSysIo scope;
  TempDir tmp;
  std::string dir = tmp / "out";
  std::string target = tmp / "out/f.txt";
};

INSTANTIATE_TEST_SUITE_P(Temporaries, Targets, ::testing::Bool(), [](const auto& param_info) {
  return param_info.param ? "named" : "unnamed";
});

// ---- Publishing -------------------------------------------------------------------------

// A new target has no name until it is complete; then the default mode and no temporary file.
TEST_P(Targets, NewTargetAppearsOnlyWhole) {
  TargetFile file;
  ASSERT_TRUE(file.open(target, LinkPolicy::replace_link));
  ASSERT_EQ(file.append("first "), 0);
  EXPECT_FALSE(file_exists(target));
  const Names during = list_dir(dir);
  ASSERT_EQ(during.size(), named() ? 1u : 0u);
  if (named()) {
    EXPECT_TRUE(platform::is_temp_name(during[0])) << during[0];
  }
  ASSERT_EQ(file.append("second"), 0);
  EXPECT_EQ(file.size(), 12u);
  ASSERT_EQ(file.commit(), 0);
  EXPECT_EQ(read_file(target), "first second");
  EXPECT_EQ(list_dir(dir), Names{"f.txt"});
  EXPECT_EQ(file_mode(target), 0666 & ~current_umask());
}

// Abort and the destructor drop the temporary file; an existing target is untouched.
TEST_P(Targets, AbortLeavesNothing) {
  {
    TargetFile file;
    ASSERT_TRUE(file.open(target, LinkPolicy::replace_link));
    ASSERT_EQ(file.append("partial"), 0);
  }
  EXPECT_EQ(list_dir(dir), Names{});
  write_file(target, "old");
  TargetFile file;
  ASSERT_TRUE(file.open(target, LinkPolicy::replace_link));
  ASSERT_EQ(file.append("partial"), 0);
  file.abort();
  EXPECT_EQ(list_dir(dir), Names{"f.txt"});
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(file.commit(), EBADF);
}

// An existing target keeps its old content until the commit, then its permission bits.
TEST_P(Targets, ExistingKeepsModeAndOldContentUntilCommit) {
  write_file(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0751), 0);
  TargetFile file;
  ASSERT_TRUE(file.open(target, LinkPolicy::replace_link));
  ASSERT_EQ(file.append("new"), 0);
  EXPECT_EQ(read_file(target), "old");
  ASSERT_EQ(file.commit(), 0);
  EXPECT_EQ(read_file(target), "new");
  EXPECT_EQ(file_mode(target), 0751u);
  EXPECT_EQ(list_dir(dir), Names{"f.txt"});
}

// Set-user-ID and set-group-ID bits survive, and the owner is kept where we may set it.
TEST_P(Targets, ExistingKeepsSpecialBitsAndOwner) {
  write_file(target, "old");
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(target.c_str(), 1234, 1234), 0);
  }
  ASSERT_EQ(::chmod(target.c_str(), 06755), 0);
  ASSERT_EQ(write(target, "new"), 0);
  EXPECT_EQ(file_mode(target), 06755u);
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, root ? 1234u : ::geteuid());
}

// Extended attributes survive the replacement, an access ACL among them (with the group bits
// its mask sets).
TEST_P(Targets, ExistingKeepsExtendedAttributesAndAcl) {
  write_file(target, "old");
  if (::setxattr(target.c_str(), "user.origin", "gbk", 3, 0) != 0)
    GTEST_SKIP() << "no user attributes on this file system";
  // user::rw-, user:4321:r--, group::r--, mask::r--, other::--- in the kernel's raw form.
  const auto entry = [](uint16_t tag, uint16_t perm, uint32_t id) {
    std::string e(8, '\0');
    std::memcpy(e.data(), &tag, 2);
    std::memcpy(e.data() + 2, &perm, 2);
    std::memcpy(e.data() + 4, &id, 4);
    return e;
  };
  const uint32_t version = 2, none = 0xFFFFFFFF;
  std::string acl(reinterpret_cast<const char*>(&version), 4);
  acl += entry(0x01, 6, none) + entry(0x02, 4, 4321) + entry(0x04, 4, none) + entry(0x10, 4, none) +
         entry(0x20, 0, none);
  const bool has_acl =
      ::setxattr(target.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
  const mode_t mode_before = file_mode(target);
  ASSERT_EQ(write(target, "new"), 0);
  char value[64] = {};
  ASSERT_EQ(::getxattr(target.c_str(), "user.origin", value, sizeof value), 3);
  EXPECT_EQ(std::string(value, 3), "gbk");
  if (has_acl) {
    char got[128];
    const ssize_t n = ::getxattr(target.c_str(), "system.posix_acl_access", got, sizeof got);
    EXPECT_EQ(std::string(got, n > 0 ? static_cast<size_t>(n) : 0), acl);
  }
  EXPECT_EQ(file_mode(target), mode_before);
}

// A read-only target is refused and left as it was, also for root (the mode bits decide).
TEST_P(Targets, ReadOnlyTargetUnchanged) {
  write_file(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
  EXPECT_EQ(write(target, "new"), EACCES);
  TargetFile file;
  EXPECT_EQ(file.open(target, LinkPolicy::write_through).err(), EACCES);
  EXPECT_EQ(file.append("new"), EACCES);  // the refusal holds for every later call
  EXPECT_EQ(file.commit(), EACCES);
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(file_mode(target), 0444u);
  EXPECT_EQ(list_dir(dir), Names{"f.txt"});
}

// A target the system refuses to write for another reason than its mode (a read-only file
// system: EROFS) is refused with that reason, not as a permission the user could change.
TEST_P(Targets, UnwritableTargetGivesTheSystemsReason) {
  write_file(target, "old");
  {
    platform::ScopedSysIo restore;
    platform::sysio().access = [](const char*, int mode) {
      if (mode & W_OK) {
        errno = EROFS;
        return -1;
      }
      return 0;
    };
    EXPECT_EQ(write(target, "new"), EROFS);
  }
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(list_dir(dir), Names{"f.txt"});
}

// Something other than a regular file in the way: a directory EISDIR, a FIFO EINVAL; a missing
// directory ENOENT (the job then creates it).
TEST_P(Targets, NonFileInTheWay) {
  ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
  EXPECT_EQ(write(target, "x"), EISDIR);
  EXPECT_EQ(write(dir + "/", "x"), EISDIR);
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0644), 0);
  EXPECT_EQ(write(dir + "/fifo", "x"), EINVAL);
  EXPECT_EQ(write(tmp / "missing/f.txt", "x"), ENOENT);
  EXPECT_EQ(list_dir(dir), (Names{"f.txt", "fifo"}));
}

// A name of the longest allowed length still gets a temporary file, new or existing.
TEST_P(Targets, LongestNameWritten) {
  const std::string path = dir + "/" + std::string(NAME_MAX - 4, 'n') + ".txt";
  ASSERT_EQ(write(path, "first"), 0);
  ASSERT_EQ(write(path, "second"), 0);
  EXPECT_EQ(read_file(path), "second");
  EXPECT_EQ(list_dir(dir).size(), 1u);
}

// A file someone creates under the new target's name before the commit is kept (EEXIST) where
// unnamed files exist; elsewhere the rename replaces it whole. The same when the target was
// opened as one in a new directory, without a look first.
TEST_P(Targets, NewTargetCreatedMeanwhile) {
  for (const bool looked : {true, false}) {
    const std::string name = looked ? "f.txt" : "g.txt";
    TargetFile file;
    ASSERT_TRUE(looked ? file.open(dir + "/" + name, LinkPolicy::replace_link)
                       : file.open_new(dir + "/" + name));
    ASSERT_EQ(file.append("ours"), 0);
    EXPECT_FALSE(file_exists(dir + "/" + name));
    write_file(dir + "/" + name, "theirs");
    EXPECT_EQ(file.commit(), named() ? 0 : EEXIST);
    EXPECT_EQ(read_file(dir + "/" + name), named() ? "ours" : "theirs");
  }
  EXPECT_EQ(list_dir(dir), (Names{"f.txt", "g.txt"}));
}

// ---- Links ------------------------------------------------------------------------------

// Written through: the file the link names gets the content and keeps its mode; the link stays.
TEST_P(Targets, LinkWrittenThrough) {
  const std::string real = tmp / "tree/real.txt";
  write_file(real, "old");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(::symlink("../tree/real.txt", target.c_str()), 0);
  ASSERT_EQ(write(target, "new", LinkPolicy::write_through), 0);
  EXPECT_TRUE(is_link(target));
  EXPECT_EQ(read_file(real), "new");
  EXPECT_EQ(file_mode(real), 0640u);
  EXPECT_EQ(list_dir(tmp / "tree"), Names{"real.txt"});
  // A dangling link is not followed to create a file somewhere.
  ASSERT_EQ(::symlink("../tree/none.txt", (dir + "/d.txt").c_str()), 0);
  EXPECT_EQ(write(dir + "/d.txt", "x", LinkPolicy::write_through), ENOENT);
  EXPECT_FALSE(file_exists(tmp / "tree/none.txt"));
}

// Replaced: the link becomes a regular file; what it named, outside the tree, is untouched.
TEST_P(Targets, LinkReplaced) {
  const std::string outside = tmp / "outside/secret.txt";
  write_file(outside, "secret");
  ASSERT_EQ(::symlink(outside.c_str(), target.c_str()), 0);
  ASSERT_EQ(::symlink((tmp / "outside/none").c_str(), (dir + "/d.txt").c_str()), 0);
  ASSERT_EQ(write(target, "new"), 0);
  ASSERT_EQ(write(dir + "/d.txt", "new"), 0);
  EXPECT_FALSE(is_link(target));
  EXPECT_FALSE(is_link(dir + "/d.txt"));
  EXPECT_EQ(read_file(target), "new");
  EXPECT_EQ(file_mode(target), 0666 & ~current_umask());
  EXPECT_EQ(read_file(outside), "secret");
  EXPECT_EQ(list_dir(tmp / "outside"), Names{"secret.txt"});
}

// write_file_safely keeps its contract: links written through, read-only refused.
TEST_P(Targets, WriteFileSafelyContract) {
  const std::string real = tmp / "real.yml";
  write_file(real, "old");
  ASSERT_EQ(::symlink(real.c_str(), target.c_str()), 0);
  ASSERT_TRUE(platform::write_file_safely(target, "new"));
  EXPECT_TRUE(is_link(target));
  EXPECT_EQ(read_file(real), "new");
  ASSERT_EQ(::chmod(real.c_str(), 0444), 0);
  EXPECT_EQ(platform::write_file_safely(target, "newer").err(), EACCES);
  EXPECT_EQ(read_file(real), "new");
}

// ---- Failures through the seam ----------------------------------------------------------

// A full disk: no temporary file, no new target, an existing one whole.
TEST_P(Targets, DiskFullLeavesNothing) {
  platform::sysio().write = fake::write_enospc;
  EXPECT_EQ(write(target, "new"), ENOSPC);
  EXPECT_EQ(list_dir(dir), Names{});
  write_file(target, "old");
  EXPECT_EQ(write(target, "new"), ENOSPC);
  EXPECT_EQ(list_dir(dir), Names{"f.txt"});
  EXPECT_EQ(read_file(target), "old");
}

// Interrupted writes are retried.
TEST_P(Targets, InterruptedWritesRetried) {
  platform::sysio().write = fake::write_interrupted;
  ASSERT_EQ(write(target, "complete"), 0);
  EXPECT_EQ(read_file(target), "complete");
}

// A rename or link that fails at publishing: reported, the old content kept, nothing left.
TEST_P(Targets, PublishFailureLeavesNothing) {
  write_file(target, "old");
  platform::sysio().rename = fake::rename_exdev;
  EXPECT_EQ(write(target, "new"), EXDEV);
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(list_dir(dir), Names{"f.txt"});
  platform::sysio().rename = platform::real_sysio().rename;
  platform::sysio().linkat = fake::linkat_eio;
  EXPECT_EQ(write(dir + "/new.txt", "new"), named() ? 0 : EIO);
  EXPECT_EQ(write(target, "new"), named() ? 0 : EIO);
  EXPECT_EQ(read_file(target), named() ? "new" : "old");
  EXPECT_EQ(list_dir(dir), named() ? (Names{"f.txt", "new.txt"}) : Names{"f.txt"});
}

// Where the kernel refuses to name an open file directly, its /proc name serves: new and
// replaced targets are published all the same.
TEST_P(Targets, PublishedWithoutDirectLinks) {
  platform::sysio().linkat = fake::linkat_no_empty_path;
  write_file(target, "old");
  EXPECT_EQ(write(target, "new"), 0);
  EXPECT_EQ(write(dir + "/new.txt", "fresh"), 0);
  EXPECT_EQ(read_file(target), "new");
  EXPECT_EQ(read_file(dir + "/new.txt"), "fresh");
  EXPECT_EQ(list_dir(dir), (Names{"f.txt", "new.txt"}));
}

// A close that reports a failure after the data went out: the new name is taken back.
TEST_P(Targets, CloseFailureTakesNameBack) {
  platform::sysio().close = fake::close_eio_once;
  EXPECT_EQ(write(target, "new"), EIO);
  EXPECT_EQ(list_dir(dir), Names{});
}

// ---- Leftovers of a killed run ----------------------------------------------------------

// A writer killed mid-file leaves no truncated target; a named temporary file it leaves is
// removed by the next run, and unnamed ones vanish by themselves.
TEST_P(Targets, KilledWriterLeftoversRemoved) {
  write_file(dir + "/old.txt", "old");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TargetFile a, b;
    if (a.open(target, LinkPolicy::replace_link) && a.append("half") == 0 &&
        b.open(dir + "/old.txt", LinkPolicy::replace_link) && b.append("half") == 0)
      ::raise(SIGKILL);
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(file_exists(target));
  EXPECT_EQ(read_file(dir + "/old.txt"), "old");
  EXPECT_EQ(list_dir(dir).size(), named() ? 3u : 1u);
  EXPECT_EQ(platform::remove_leftovers(dir), named() ? 2 : 0);
  EXPECT_EQ(list_dir(dir), Names{"old.txt"});
}

// Only regular files of exactly the temporary pattern are removed, and counted.
TEST(Leftovers, ExactPatternOnly) {
  TempDir tmp;
  const Names removed = {".a.txt.ouzel-Ab3xY9", ".x.ouzel-000000"};
  const Names kept = {".a.txt.ouzel-Ab3xY", ".a.txt.ouzel-Ab3xY!",  "a.txt.ouzel-Ab3xY9",
                      ".ouzel-Ab3xY9",      ".a.txt.ouzel-Ab3xY90", ".a.txt.ozel-Ab3xY9",
                      "plain.txt"};
  for (const auto& n : removed) write_file(tmp / n, "x");
  for (const auto& n : kept) write_file(tmp / n, "x");
  ASSERT_EQ(::mkdir((tmp / ".d.ouzel-ABCDEF").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("plain.txt", (tmp / ".l.ouzel-ABCDEF").c_str()), 0);
  write_file(tmp / "sub/.s.ouzel-ABCDEF", "below: not touched");
  EXPECT_EQ(platform::remove_leftovers(tmp.path()), 2);
  Names expected = kept;
  for (const char* n : {".d.ouzel-ABCDEF", ".l.ouzel-ABCDEF", "sub"}) expected.push_back(n);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(list_dir(tmp.path()), expected);
  EXPECT_EQ(platform::remove_leftovers(tmp / "missing"), 0);
}

// A leftover folder goes with all it holds, a link in it removed and never followed; a folder
// that cannot be removed (rmdir failing through the seam) is named with its errno, and what was
// below it is gone.
TEST(Leftovers, StagingFolderRemovedWholeFailureNamed) {
  TempDir tmp;
  write_file(tmp / ".d.ouzel-new-ABCDEF/sub/deep.txt", "x");
  write_file(tmp / "kept/file.txt", "kept");
  ASSERT_EQ(::symlink((tmp / "kept").c_str(), (tmp / ".d.ouzel-new-ABCDEF/link").c_str()), 0);
  int folders = 0;
  EXPECT_EQ(platform::remove_leftovers(tmp.path(), &folders), 0);
  EXPECT_EQ(folders, 1);
  EXPECT_EQ(list_dir(tmp.path()), Names{"kept"});
  EXPECT_EQ(read_file(tmp / "kept/file.txt"), "kept");
  EXPECT_TRUE(platform::remove_tree(tmp / "missing"));

  write_file(tmp / ".e.ouzel-new-ABCDEF/a/b.txt", "x");
  platform::ScopedSysIo scope;
  platform::sysio().rmdir = [](const char*) -> int {
    errno = EBUSY;
    return -1;
  };
  const platform::Status s = platform::remove_tree(tmp / ".e.ouzel-new-ABCDEF");
  ASSERT_FALSE(s);
  EXPECT_EQ(s.err(), EBUSY);
  EXPECT_EQ(s.error().context, "remove " + (tmp / ".e.ouzel-new-ABCDEF/a"));
  EXPECT_EQ(list_dir(tmp / ".e.ouzel-new-ABCDEF/a"), Names{});
  folders = 0;
  platform::remove_leftovers(tmp.path(), &folders);
  EXPECT_EQ(folders, 0);
}

// The names the writer makes are the names the clean-up recognises, long targets included.
TEST(Leftovers, WriterNamesMatchPattern) {
  for (size_t len : {size_t{1}, size_t{100}, size_t{NAME_MAX}}) {
    std::string t = platform::temp_template("d/", std::string(len, 'n'));
    platform::fill_temp_suffix(t);
    const std::string name = platform::name_part(t);
    EXPECT_LE(name.size(), size_t{NAME_MAX});
    EXPECT_TRUE(platform::is_temp_name(name)) << name;
  }
}

}  // namespace
