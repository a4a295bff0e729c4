// Changes to watched folders' files: every kind of change is noticed, and whatever the watch
// cannot vouch for answers "may have changed".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/change_watch.h"
#include "platform/fs.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

namespace {
using namespace testing_support;
using platform::ChangeWatch;

void append(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
}

class ChangeWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a", "b", "c", "d", "e", "f"}) write_file(dir + "/" + name, name);
    write_file(tmp / "other/f", "f");
  }
  platform::ScopedSysIo scope;
  TempDir tmp;
  const std::string dir = tmp / "src";
};

TEST_F(ChangeWatchTest, NoticesEveryKindOfChangeAndNothingElse) {
  ChangeWatch watch;
  ASSERT_TRUE(watch.watch(dir));
  append(dir + "/a", "more");
  ASSERT_EQ(::rename((dir + "/b").c_str(), (dir + "/c").c_str()), 0);  // c replaced, b gone
  ASSERT_EQ(::chmod((dir + "/d").c_str(), 0600), 0);
  ASSERT_EQ(::unlink((dir + "/e").c_str()), 0);
  write_file(dir + "/g", "new");
  std::string read_back;
  ASSERT_TRUE(platform::read_file(dir + "/f", read_back));  // reading is no change
  watch.collect();
  for (const char* name : {"a", "b", "c", "d", "e", "g"})
    EXPECT_TRUE(watch.may_have_changed(dir + "/" + name)) << name;
  EXPECT_FALSE(watch.may_have_changed(dir + "/f"));
  EXPECT_TRUE(watch.may_have_changed(tmp / "other/f")) << "a folder not watched";
  EXPECT_TRUE(watch.may_have_changed("f")) << "no folder at all";
}

TEST_F(ChangeWatchTest, AnotherSpellingOfTheFolderSharesItsChanges) {
  ASSERT_EQ(::symlink(dir.c_str(), (tmp / "link").c_str()), 0);
  ChangeWatch watch;
  ASSERT_TRUE(watch.watch(dir));
  ASSERT_TRUE(watch.watch(tmp / "link"));
  append(dir + "/a", "more");
  watch.collect();
  EXPECT_TRUE(watch.may_have_changed(tmp / "link/a"));
  EXPECT_FALSE(watch.may_have_changed(tmp / "link/f"));
}

// Threads add folders at once, the same ones too: each is watched when its call returns.
TEST_F(ChangeWatchTest, FoldersAddedByThreadsAtOnceAreEachWatched) {
  std::vector<std::string> folders;
  for (int i = 0; i < 24; ++i) {
    folders.push_back(tmp / ("many/" + std::to_string(i)));
    write_file(folders.back() + "/x", "x");
    write_file(folders.back() + "/y", "y");
  }
  ChangeWatch watch;
  std::vector<std::thread> threads;
  std::atomic<int> refused{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < folders.size(); ++i) {
        const std::string& folder = folders[(i + static_cast<size_t>(t) * 5) % folders.size()];
        if (!watch.watch(folder)) refused.fetch_add(1);
        append(folder + "/x", "more");  // after this thread's own call: must be noticed
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(refused.load(), 0);
  watch.collect();
  for (const std::string& folder : folders) {
    EXPECT_TRUE(watch.may_have_changed(folder + "/x")) << folder;
    EXPECT_FALSE(watch.may_have_changed(folder + "/y")) << folder;
  }
}

std::atomic<int> watch_closes{0};

// Finished (its instance closed on another thread): what was collected still answers, what
// comes after is not noticed, so nothing more is vouched for; the instance is closed once.
TEST_F(ChangeWatchTest, FinishedKeepsItsAnswersAndWatchesNoMore) {
  static int instance = -1;
  platform::sysio().inotify_init1 = [](int flags) {
    return instance = platform::real_sysio().inotify_init1(flags);
  };
  platform::sysio().close = [](int fd) {
    if (fd == instance) ++watch_closes;
    return platform::real_sysio().close(fd);
  };
  {
    ChangeWatch watch;
    ASSERT_TRUE(watch.watch(dir));
    append(dir + "/a", "more");
    watch.collect();
    watch.finish();
    watch.finish();
    EXPECT_FALSE(watch.watch(tmp / "other")) << "nothing is added once finished";
    append(dir + "/b", "after");
    watch.collect();
    EXPECT_TRUE(watch.may_have_changed(dir + "/a"));
    EXPECT_FALSE(watch.may_have_changed(dir + "/f"));
    EXPECT_TRUE(watch.may_have_changed(tmp / "other/f"));
  }
  EXPECT_EQ(watch_closes.load(), 1);
}

TEST_F(ChangeWatchTest, AMovedFolderVouchesForNothing) {
  ChangeWatch watch;
  ASSERT_TRUE(watch.watch(dir));
  ASSERT_EQ(::rename(dir.c_str(), (tmp / "moved").c_str()), 0);
  watch.collect();
  EXPECT_TRUE(watch.may_have_changed(dir + "/f"));
}

// More changes than the kernel queues: the dropped ones could be anyone's.
TEST_F(ChangeWatchTest, DroppedChangesVouchForNothing) {
  std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
  long queued = 0;
  ASSERT_TRUE(limit >> queued);
  if (queued > 200000) GTEST_SKIP() << "the queue holds " << queued << " events";
  ChangeWatch watch;
  ASSERT_TRUE(watch.watch(dir));
  // Alternating names, as the kernel folds a repeat of the event before it.
  for (long i = 0; i <= queued; ++i) append(dir + (i % 2 == 0 ? "/a" : "/b"), "x");
  watch.collect();
  EXPECT_TRUE(watch.may_have_changed(dir + "/f"));
}

TEST_F(ChangeWatchTest, WithoutTheKernelsHelpNothingIsVouchedFor) {
  const auto refused = [&](const char* why) {
    ChangeWatch watch;
    EXPECT_FALSE(watch.watch(dir)) << why;
    watch.collect();
    EXPECT_TRUE(watch.may_have_changed(dir + "/f")) << why;
    platform::sysio() = platform::real_sysio();
  };
  platform::sysio().inotify_init1 = [](int) {
    errno = EMFILE;
    return -1;
  };
  refused("no inotify");
  platform::sysio().inotify_add_watch = [](int, const char*, uint32_t) {
    errno = ENOSPC;
    return -1;
  };
  refused("out of watches");
  platform::sysio().statfs = [](const char* path, struct statfs* st) {
    const int r = platform::real_sysio().statfs(path, st);
    st->f_type = NFS_SUPER_MAGIC;  // changed by other machines, unseen here
    return r;
  };
  refused("a network file system");
}

}  // namespace
