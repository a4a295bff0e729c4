// Files copied unchanged keep their holes, try a reflink first, and fail whole at any step.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "job/job.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

constexpr off_t kHole = off_t{48} << 20;

std::atomic<int> clones{0};
int counting_ficlone(int to, int from) {
  ++clones;
  return platform::real_sysio().ficlone(to, from);
}
int no_clone(int, int) {
  errno = EOPNOTSUPP;
  return -1;
}
ssize_t no_copy_range(int, off_t*, int, off_t*, size_t, unsigned) {
  errno = EXDEV;
  return -1;
}
ssize_t failing_copy_range(int, off_t*, int, off_t*, size_t, unsigned) {
  errno = EIO;
  return -1;
}
ssize_t pread_eio(int, void*, size_t, off_t) {
  errno = EIO;
  return -1;
}
ssize_t pwrite_enospc(int, const void*, size_t, off_t) {
  errno = ENOSPC;
  return -1;
}
int ftruncate_efbig(int, off_t) {
  errno = EFBIG;
  return -1;
}

// A binary file: data, a 48 MiB hole, data, and a hole at the end.
void write_sparse(const std::string& path) {
  write_file(path, "");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::string head = std::string(
                               "\x7F"
                               "ELF\0\1\2",
                               7) +
                           std::string(4089, 'h');
  ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
  const std::string tail(8192, 't');
  ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), kHole), static_cast<ssize_t>(tail.size()));
  ASSERT_EQ(::ftruncate(fd, kHole + 3 * 8192), 0);
  ::close(fd);
}

uint64_t allocated(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_blocks) * 512 : ~0ull;
}

class SparseCopy : public ::testing::Test {
 protected:
  JobPlan plan(const std::string& out) {
    JobPlan p = make_plan(tmp / "in", out, "GBK", "UTF-8");
    p.options.whole_file_limit = 1 << 20;
    p.options.stream_chunk = 1 << 16;
    return p;
  }

  platform::ScopedSysIo scope;
  TempDir tmp;
};

// Copied unchanged, the target has the source's bytes and about its allocation, with a
// reflink tried first and with copy_file_range unavailable between the two places.
TEST_F(SparseCopy, HolesStayHoles) {
  const std::string source = tmp / "in/blob.bin";
  write_sparse(source);
  ASSERT_LT(allocated(source), uint64_t{1} << 20) << "this file system makes no holes";
  const std::string data = read_file(source);
  for (const bool fallback : {false, true}) {
    SCOPED_TRACE(fallback);
    clones = 0;
    platform::sysio().ficlone = counting_ficlone;
    if (fallback) platform::sysio().copy_file_range = no_copy_range;
    const std::string out = tmp / (fallback ? "out2" : "out1");
    const JobReport r = run_job(plan(out));
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files[0].outcome, Outcome::binary);
    EXPECT_GE(clones.load(), 1);
    EXPECT_TRUE(read_file(out + "/blob.bin") == data);
    EXPECT_LE(allocated(out + "/blob.bin"), allocated(source) + (uint64_t{256} << 10));
  }
}

// A file read whole (below the chunked size) and copied unchanged keeps its holes too.
TEST_F(SparseCopy, WholeFileHolesStayHoles) {
  const std::string source = tmp / "in/blob.bin";
  write_sparse(source);
  ASSERT_LT(allocated(source), uint64_t{1} << 20) << "this file system makes no holes";
  const std::string data = read_file(source);
  JobPlan p = plan(tmp / "out");
  p.options.whole_file_limit = uint64_t{256} << 20;
  const JobReport r = run_job(p);
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].outcome, Outcome::binary);
  EXPECT_TRUE(read_file(tmp / "out/blob.bin") == data);
  EXPECT_LE(allocated(tmp / "out/blob.bin"), allocated(source) + (uint64_t{256} << 10));
}

// A copy that fails leaves no target and says so.
TEST_F(SparseCopy, FailedCopyLeavesNothing) {
  write_sparse(tmp / "in/blob.bin");
  platform::sysio().ficlone = no_clone;
  platform::sysio().copy_file_range = failing_copy_range;
  const JobReport r = run_job(plan(tmp / "out"));
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].outcome, Outcome::cannot_write);
  EXPECT_EQ(r.files[0].error, EIO);
  EXPECT_TRUE(list_tree(tmp / "out").empty());
}

// Each step of the copy made by reading and writing can fail: its errno is reported and no
// target is left.
TEST_F(SparseCopy, ReadWriteCopyFailuresLeaveNothing) {
  write_sparse(tmp / "in/blob.bin");
  const std::pair<void (*)(platform::SysIo&), int> faults[] = {
      {[](platform::SysIo& io) { io.pread = pread_eio; }, EIO},
      {[](platform::SysIo& io) { io.pwrite = pwrite_enospc; }, ENOSPC},
      {[](platform::SysIo& io) { io.ftruncate = ftruncate_efbig; }, EFBIG},
  };
  for (const auto& [inject, error] : faults) {
    platform::sysio() = platform::real_sysio();
    platform::sysio().ficlone = no_clone;
    platform::sysio().copy_file_range = no_copy_range;
    inject(platform::sysio());
    const JobReport r = run_job(plan(tmp / "out"));
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files[0].outcome, Outcome::cannot_write) << error;
    EXPECT_EQ(r.files[0].error, error);
    EXPECT_TRUE(list_tree(tmp / "out").empty()) << error;
  }
}

}  // namespace
