// The publisher: data flushed before any name is published, batches by count and bytes, every
// target's final result reported once, nothing pending or temporary after finish, failures of
// syncfs, fstat and rename through the seam, several submitting threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/publisher.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "platform/temp_name.h"
#include "tests/support/test_support.h"

using namespace testing_support;
using platform::LinkPolicy;
using platform::Publisher;
using platform::PublisherOptions;
using platform::TargetFile;
using Names = std::vector<std::string>;

namespace {

// Syncs and publications in the order they happened, from any thread.
namespace events {
std::mutex mutex;
std::string log;  // 'S' a syncfs, 'P' a name published
int fdatasyncs = 0;
int fail_fdatasync_at = 0;  // that fdatasync call (1-based) fails with EIO
void add(char e) {
  std::lock_guard<std::mutex> lock(mutex);
  log += e;
}
void reset() {
  std::lock_guard<std::mutex> lock(mutex);
  log.clear();
  fdatasyncs = fail_fdatasync_at = 0;
}
int syncfs(int fd) {
  add('S');
  return platform::real_sysio().syncfs(fd);
}
int syncfs_eio(int) {
  add('S');
  errno = EIO;
  return -1;
}
int syncfs_eintr_once(int fd) {
  static bool interrupted = false;
  if (!interrupted) {
    interrupted = true;
    errno = EINTR;
    return -1;
  }
  return syncfs(fd);
}
int fdatasync(int fd) {
  std::lock_guard<std::mutex> lock(mutex);
  if (++fdatasyncs == fail_fdatasync_at) {
    errno = EIO;
    return -1;
  }
  return platform::real_sysio().fdatasync(fd);
}
int rename(const char* from, const char* to) {
  add('P');
  return platform::real_sysio().rename(from, to);
}
int rename_fails_for_b(const char* from, const char* to) {
  if (platform::name_part(to) == "b.txt") {
    errno = EXDEV;
    return -1;
  }
  return rename(from, to);
}
int fstat_eio(int, struct stat*) {
  errno = EIO;
  return -1;
}
int linkat(int fd, const char* from, int to_fd, const char* to, int flags) {
  if (!platform::is_temp_name(platform::name_part(to))) add('P');
  return platform::real_sysio().linkat(fd, from, to_fd, to, flags);
}
}  // namespace events

// The results the callback reported, by token.
struct Results {
  std::mutex mutex;
  std::map<uint64_t, int> error;
  int calls = 0;
  platform::PublishCallback callback() {
    return [this](uint64_t token, const std::string&, int err) {
      std::lock_guard<std::mutex> lock(mutex);
      ++calls;
      error[token] = err;
    };
  }
};

class PublisherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events::reset();
    platform::sysio().syncfs = events::syncfs;
    platform::sysio().fdatasync = events::fdatasync;
    platform::sysio().rename = events::rename;
    platform::sysio().linkat = events::linkat;
  }
  // A written, uncommitted target `name` in the output folder.
  TargetFile written(const std::string& name, const std::string& content) {
    TargetFile file;
    EXPECT_TRUE(file.open(tmp / name, LinkPolicy::replace_link));
    EXPECT_EQ(file.append(content), 0);
    return file;
  }
  static PublisherOptions durable(size_t files, uint64_t bytes = uint64_t{1} << 30) {
    PublisherOptions o;
    o.durable = true;
    o.batch_files = files;
    o.batch_bytes = bytes;
    return o;
  }
  std::string name(int i) { return "f" + std::to_string(i) + ".txt"; }

  platform::ScopedSysIo scope;
  TempDir tmp;
  Results results;
};

// Durability off: each target is published in submit, with its result, and nothing is synced.
TEST_F(PublisherTest, NotDurablePublishesAtOnce) {
  PublisherOptions o;
  o.durable = false;
  Publisher publisher(o, results.callback());
  publisher.submit(written("a.txt", "A"), 7);
  EXPECT_EQ(read_file(tmp / "a.txt"), "A");
  EXPECT_EQ(results.error, (std::map<uint64_t, int>{{7, 0}}));
  publisher.finish();
  EXPECT_EQ(events::log, "P");
}

// Durable: nothing is published before its batch is synced; finish publishes the rest, makes
// the names durable, and leaves no temporary file.
TEST_F(PublisherTest, DurableBatchesSyncBeforePublish) {
  Publisher publisher(durable(3), results.callback());
  for (int i = 0; i < 10; ++i) {
    publisher.submit(written(name(i), name(i)), static_cast<uint64_t>(i));
    if (i == 1) {
      EXPECT_EQ(list_dir(tmp.path()), Names{});  // the first batch is not full yet
    }
  }
  publisher.finish();
  EXPECT_EQ(results.calls, 10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(results.error[static_cast<uint64_t>(i)], 0);
    EXPECT_EQ(read_file(tmp / name(i)), name(i));
  }
  EXPECT_EQ(list_dir(tmp.path()).size(), 10u);
  EXPECT_EQ(events::log, "SPPPSPPPSPPPSPS");  // batches of 3, the rest, the final sync
}

// A batch is also closed by its bytes.
TEST_F(PublisherTest, BatchClosedByBytes) {
  Publisher publisher(durable(100, 100), results.callback());
  for (int i = 0; i < 5; ++i) publisher.submit(written(name(i), std::string(60, 'x')), 0);
  publisher.finish();
  EXPECT_EQ(events::log, "SPPSPPSPS");
}

// A rename that fails after the conversion was reported reaches the callback; the old content
// stays and no temporary file is left.
TEST_F(PublisherTest, RenameFailureReported) {
  write_file(tmp / "a.txt", "old a");
  write_file(tmp / "b.txt", "old b");
  platform::sysio().rename = events::rename_fails_for_b;
  {
    Publisher publisher(durable(8), results.callback());
    publisher.submit(written("a.txt", "new a"), 1);
    publisher.submit(written("b.txt", "new b"), 2);
  }  // the destructor finishes
  EXPECT_EQ(results.error, (std::map<uint64_t, int>{{1, 0}, {2, EXDEV}}));
  EXPECT_EQ(read_file(tmp / "a.txt"), "new a");
  EXPECT_EQ(read_file(tmp / "b.txt"), "old b");
  EXPECT_EQ(list_dir(tmp.path()), (Names{"a.txt", "b.txt"}));
}

// A failed syncfs: each file is flushed alone; one whose data cannot reach the disk is not
// published and is reported, the others are.
TEST_F(PublisherTest, SyncfsFailureFlushesFileByFile) {
  platform::sysio().syncfs = events::syncfs_eio;
  events::fail_fdatasync_at = 2;
  write_file(tmp / name(1), "old");
  Publisher publisher(durable(3), results.callback());
  for (int i = 0; i < 3; ++i) publisher.submit(written(name(i), "new"), static_cast<uint64_t>(i));
  publisher.finish();
  EXPECT_EQ(results.error, (std::map<uint64_t, int>{{0, 0}, {1, EIO}, {2, 0}}));
  EXPECT_EQ(events::fdatasyncs, 3);
  EXPECT_EQ(read_file(tmp / name(1)), "old");
  EXPECT_EQ(list_dir(tmp.path()), (Names{name(0), name(1), name(2)}));
}

// A target whose device cannot be told is flushed alone before its name is published, and the
// name is made durable at the end; one whose flush fails is not published.
TEST_F(PublisherTest, UnknownDeviceFlushedAlone) {
  platform::sysio().fstat = events::fstat_eio;
  events::fail_fdatasync_at = 2;
  write_file(tmp / name(1), "old");
  Publisher publisher(durable(2), results.callback());
  for (int i = 0; i < 2; ++i) publisher.submit(written(name(i), "new"), static_cast<uint64_t>(i));
  publisher.finish();
  EXPECT_EQ(results.error, (std::map<uint64_t, int>{{0, 0}, {1, EIO}}));
  EXPECT_EQ(events::fdatasyncs, 2);
  EXPECT_EQ(events::log, "PS");  // no syncfs of a group, the directory's sync after the name
  EXPECT_EQ(read_file(tmp / name(0)), "new");
  EXPECT_EQ(read_file(tmp / name(1)), "old");
}

// An interrupted syncfs is called again, not taken for a failure.
TEST_F(PublisherTest, InterruptedSyncfsRetried) {
  platform::sysio().syncfs = events::syncfs_eintr_once;
  Publisher publisher(durable(1), results.callback());
  publisher.submit(written("a.txt", "A"), 1);
  publisher.finish();
  EXPECT_EQ(results.error[1], 0);
  EXPECT_EQ(events::fdatasyncs, 0);
}

// Several job threads submit at once: every target is published once, nothing is left over.
TEST_F(PublisherTest, ThreadsSubmitting) {
  constexpr int kThreads = 3, kEach = 120;
  Publisher publisher(durable(16, 4096), results.callback());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t * kEach; i < (t + 1) * kEach; ++i)
        publisher.submit(written(name(i), name(i)), static_cast<uint64_t>(i));
    });
  }
  for (auto& th : threads) th.join();
  publisher.finish();
  EXPECT_EQ(results.calls, kThreads * kEach);
  EXPECT_EQ(results.error.size(), size_t{kThreads * kEach});
  EXPECT_EQ(list_dir(tmp.path()).size(), size_t{kThreads * kEach});
  for (int i = 0; i < kThreads * kEach; ++i) EXPECT_EQ(read_file(tmp / name(i)), name(i));
  // Submitting after finish starts over.
  publisher.submit(written("late.txt", "late"), 9999);
  publisher.finish();
  EXPECT_EQ(read_file(tmp / "late.txt"), "late");
}

}  // namespace
