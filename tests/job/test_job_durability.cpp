// What a power loss could find after a durable job: every name the job published holds data
// that reached the disk before the name did, whatever path the target took (unnamed or named
// temporary file, whole or in chunks, new or replacing), and in place the old content it
// replaced is kept on the disk before; without durability nothing is synced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "job/job.h"
#include "platform/sys_io.h"
#include "platform/temp_name.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// Follows every temporary file from its creation through its writes to the call that publishes
// it, and the syncs in between, through the I/O seam (any thread).
namespace trace {
std::mutex mutex;
long seq = 0;
int next_id = 0;
std::map<int, int> file_of_fd;              // open descriptors of our temporary files
std::map<std::string, int> file_of_temp;    // named temporary files
std::map<std::string, int> file_of_name;    // published names, which a link may give on
std::map<std::string, int> file_of_staged;  // written under their names in a hidden new folder
std::map<int, long> last_write, last_flush;
long last_syncfs = 0, last_publish = 0;
int publishes = 0, syncs = 0;
std::string first_fault;  // the first name published too early
int faults = 0;
// In place: when the old content of each path got its name in the undo store; the store's
// descriptors, and whether the store plays another file system (its own syncs then count).
std::map<std::string, long> kept_at;
std::map<int, bool> store_fds;
bool store_elsewhere = false;
long last_store_sync = 0;
// The last write to the store's manifest (its records), and the last one a sync covered.
long last_record = 0, synced_record = 0;

void reset() {
  std::lock_guard lock(mutex);
  seq = 0;
  next_id = 0;
  file_of_fd.clear();
  file_of_temp.clear();
  file_of_name.clear();
  file_of_staged.clear();
  last_write.clear();
  last_flush.clear();
  last_syncfs = last_publish = 0;
  publishes = syncs = faults = 0;
  first_fault.clear();
  kept_at.clear();
  store_fds.clear();
  store_elsewhere = false;
  last_store_sync = 0;
  last_record = synced_record = 0;
}

// With the lock held.
void published(int id, const std::string& name) {
  ++publishes;
  last_publish = ++seq;
  file_of_name[name] = id;
  const long flushed = std::max(last_syncfs, last_flush[id]);
  // What the new content replaces must be kept on the disk first, and its record written after
  // and on the disk too.
  const auto kept = kept_at.find(name);
  const long store_synced = store_elsewhere ? last_store_sync : last_syncfs;
  const bool kept_first =
      kept == kept_at.end() || (store_synced > kept->second && synced_record > kept->second);
  if (last_write.count(id) != 0 && flushed > last_write[id] && kept_first) return;
  if (faults++ == 0) first_fault = name;
}

int open(const char* path, int flags, mode_t mode) {
  const int fd = platform::real_sysio().open(path, flags, mode);
  std::lock_guard lock(mutex);
  if (fd >= 0 && (flags & O_TMPFILE) == O_TMPFILE) file_of_fd[fd] = ++next_id;
  if (fd >= 0 && std::string(path).find("/.ouzel-undo/") != std::string::npos) store_fds[fd] = true;
  if (fd >= 0 && (flags & O_TMPFILE) != O_TMPFILE && (flags & O_CREAT) != 0 &&
      std::string(path).find(".ouzel-new-") != std::string::npos)
    file_of_staged[path] = file_of_fd[fd] = ++next_id;
  return fd;
}
// A name opened in a folder kept open is traced by its whole path.
int openat(int dir_fd, const char* name, int flags, mode_t mode) {
  char dir[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(dir_fd);
  const ssize_t n = ::readlink(link.c_str(), dir, sizeof dir);
  if (n <= 0 || static_cast<size_t>(n) == sizeof dir) {
    errno = EBADF;
    return -1;
  }
  return open((std::string(dir, static_cast<size_t>(n)) + "/" + name).c_str(), flags, mode);
}
int open_without_tmpfile(const char* path, int flags, mode_t mode) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return open(path, flags, mode);
}
int mkostemp(char* name_template, int flags) {
  const int fd = platform::real_sysio().mkostemp(name_template, flags);
  std::lock_guard lock(mutex);
  if (fd >= 0) file_of_temp[name_template] = file_of_fd[fd] = ++next_id;
  return fd;
}
ssize_t write(int fd, const void* data, size_t size) {
  const ssize_t n = platform::real_sysio().write(fd, data, size);
  std::lock_guard lock(mutex);
  if (auto it = file_of_fd.find(fd); it != file_of_fd.end()) last_write[it->second] = ++seq;
  if (store_fds.count(fd) != 0) last_record = ++seq;
  return n;
}
int fdatasync(int fd) {
  const int r = platform::real_sysio().fdatasync(fd);
  std::lock_guard lock(mutex);
  ++syncs;
  if (auto it = file_of_fd.find(fd); r == 0 && it != file_of_fd.end())
    last_flush[it->second] = ++seq;
  return r;
}
int syncfs(int fd) {
  const int r = platform::real_sysio().syncfs(fd);
  std::lock_guard lock(mutex);
  ++syncs;
  const bool store = store_fds.count(fd) != 0;
  if (r == 0 && store_elsewhere && store)
    last_store_sync = ++seq;
  else if (r == 0)
    last_syncfs = ++seq;
  if (r == 0 && (store || !store_elsewhere)) synced_record = last_record;
  return r;
}
int close(int fd) {
  {
    std::lock_guard lock(mutex);
    file_of_fd.erase(fd);
    store_fds.erase(fd);
  }
  return platform::real_sysio().close(fd);
}
int fstat(int fd, struct stat* st) {
  const int r = platform::real_sysio().fstat(fd, st);
  std::lock_guard lock(mutex);
  if (r == 0 && store_elsewhere && store_fds.count(fd) != 0) st->st_dev ^= 0x5a5a;
  return r;
}
int link(const char* from, const char* to) {
  const int r = platform::real_sysio().link(from, to);
  std::lock_guard lock(mutex);
  if (r == 0 && std::string(to).find("/.ouzel-undo/") != std::string::npos) kept_at[from] = ++seq;
  return r;
}
int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  {
    std::lock_guard lock(mutex);
    // The open file is named by its descriptor, or by its /proc name.
    const std::string proc = "/proc/self/fd/";
    int fd = (flags & AT_EMPTY_PATH) != 0 ? from_dir : -1;
    if (std::string(from).rfind(proc, 0) == 0) fd = std::atoi(from + proc.size());
    if (const auto named = file_of_name.find(from); fd < 0 && named != file_of_name.end()) {
      // Another name for a published file: a staging name until its rename publishes it.
      file_of_temp[to] = named->second;
    } else if (const auto it = file_of_fd.find(fd); it != file_of_fd.end()) {
      if (platform::is_temp_name(platform::name_part(to)))
        file_of_temp[to] = it->second;
      else
        published(it->second, to);
    }
  }
  return platform::real_sysio().linkat(from_dir, from, to_dir, to, flags);
}
int rename(const char* from, const char* to) {
  {
    std::lock_guard lock(mutex);
    if (auto it = file_of_temp.find(from); it != file_of_temp.end()) published(it->second, to);
  }
  return platform::real_sysio().rename(from, to);
}
// A staged folder's rename publishes every file in it; a single staged file's, that file.
int rename_noreplace(const char* from, const char* to) {
  {
    std::lock_guard lock(mutex);
    const std::string prefix = std::string(from) + "/";
    for (const auto& [path, id] : file_of_staged) {
      if (path == from) published(id, to);
      if (path.rfind(prefix, 0) == 0)
        published(id, std::string(to) + path.substr(prefix.size() - 1));
    }
  }
  return platform::real_sysio().rename_noreplace(from, to);
}
}  // namespace trace

class JobDurability : public ::testing::Test {
 protected:
  void SetUp() override {
    trace::reset();
    platform::SysIo& io = platform::sysio();
    io.open = trace::open;
    io.openat = trace::openat;
    io.mkostemp = trace::mkostemp;
    io.write = trace::write;
    io.fdatasync = trace::fdatasync;
    io.syncfs = trace::syncfs;
    io.close = trace::close;
    io.fstat = trace::fstat;
    io.link = trace::link;
    io.linkat = trace::linkat;
    io.rename = trace::rename;
    io.rename_noreplace = trace::rename_noreplace;
  }

  // Small files in several folders, one converted in chunks, and one target that replaces an
  // older file.
  JobPlan tree(const std::string& out) {
    if (!file_exists(tmp / "in/big.txt")) {
      const std::string line = "\xD6\xD0\xCE\xC4 line\n";  // 中文 line, GBK
      for (int i = 0; i < 60; ++i)
        write_file(tmp / ("in/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt"),
                   line + std::to_string(i) + "\n");
      std::string big;
      while (big.size() < 100000) big += line;
      write_file(tmp / "in/big.txt", big);
    }
    write_file(out + "/d0/f0.txt", "older");
    JobPlan plan = make_plan(tmp / "in", out, "GBK", "UTF-8");
    plan.options.threads = 2;
    plan.options.whole_file_limit = 50000;
    plan.options.stream_chunk = 8192;
    return plan;
  }

  platform::ScopedSysIo scope;
  TempDir tmp;
};

// Durable: each name is published only after a sync that followed the last write of its data,
// and a last sync makes the names themselves durable; with unnamed and named temporary files.
TEST_F(JobDurability, DataReachesTheDiskBeforeItsName) {
  for (const bool named : {false, true}) {
    trace::reset();
    if (named) platform::sysio().open = trace::open_without_tmpfile;
    const std::string out = tmp / (named ? "named" : "unnamed");
    const JobReport r = run_job(tree(out));
    EXPECT_EQ(r.failures(), 0u) << named;
    std::lock_guard lock(trace::mutex);
    EXPECT_EQ(trace::publishes, 61) << named;
    EXPECT_EQ(trace::faults, 0) << named << ", first: " << trace::first_fault;
    EXPECT_GT(trace::last_syncfs, trace::last_publish) << named;
    EXPECT_EQ(read_file(out + "/d0/f0.txt"), "\xE4\xB8\xAD\xE6\x96\x87 line\n0\n");
  }
}

// In place, a file with a second name (a hard link) is published through the same durable path:
// its data reaches the disk before either name, and both names are made durable at the end.
TEST_F(JobDurability, HardLinkedFileInPlace) {
  write_file(tmp / "tree/a.txt", "\xD6\xD0\xCE\xC4 line\n");
  write_file(tmp / "tree/other.txt", "\xD6\xD0\xCE\xC4\n");
  ASSERT_EQ(::mkdir((tmp / "tree/sub").c_str(), 0777), 0);
  ASSERT_EQ(::link((tmp / "tree/a.txt").c_str(), (tmp / "tree/sub/b.txt").c_str()), 0);
  const JobReport r = run_job(make_plan(tmp / "tree", tmp / "tree", "GBK", "UTF-8"));
  EXPECT_EQ(r.failures(), 0u);
  std::lock_guard lock(trace::mutex);
  EXPECT_EQ(trace::publishes, 3);  // a.txt, its second name, other.txt
  EXPECT_EQ(trace::faults, 0) << "first: " << trace::first_fault;
  EXPECT_GT(trace::last_syncfs, trace::last_publish);
  EXPECT_EQ(read_file(tmp / "tree/sub/b.txt"), "\xE4\xB8\xAD\xE6\x96\x87 line\n");
  struct stat a, b;
  ASSERT_EQ(::stat((tmp / "tree/a.txt").c_str(), &a), 0);
  ASSERT_EQ(::stat((tmp / "tree/sub/b.txt").c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
}

// In place, the old content of each file is kept in the undo store before its new content is
// published, and reaches the disk first: by the batch's sync when the store shares the file
// system, by a sync of the store's own when it does not.
TEST_F(JobDurability, KeptContentReachesTheDiskBeforeTheNewName) {
  for (const bool elsewhere : {false, true}) {
    trace::reset();
    trace::store_elsewhere = elsewhere;
    const std::string tree = tmp / (elsewhere ? "elsewhere" : "here");
    for (int i = 0; i < 40; ++i)
      write_file(tree + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt",
                 "\xD6\xD0\xCE\xC4 " + std::to_string(i) + "\n");
    JobPlan plan = make_plan(tree, tree, "GBK", "UTF-8");
    plan.options.threads = 2;
    const JobReport r = run_job(plan);
    EXPECT_EQ(r.kept.files, 40u) << elsewhere;
    std::lock_guard lock(trace::mutex);
    EXPECT_EQ(trace::kept_at.size(), 40u) << elsewhere;
    EXPECT_EQ(trace::faults, 0) << elsewhere << ", first: " << trace::first_fault;
    EXPECT_EQ(trace::last_store_sync > 0, elsewhere);
  }
}

// Durability off: every target is published and nothing is synced.
TEST_F(JobDurability, OffSyncsNothing) {
  JobPlan plan = tree(tmp / "out");
  plan.options.durable = false;
  const JobReport r = run_job(plan);
  EXPECT_EQ(r.failures(), 0u);
  std::lock_guard lock(trace::mutex);
  EXPECT_EQ(trace::publishes, 61);
  EXPECT_EQ(trace::syncs, 0);
}

}  // namespace
