// A source written to while it is converted is never replaced or published from its old read:
// the appended text survives, the report says `changed`, and the next run converts it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <utility>

#include "job/job.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::string kGbkLine = "// \xD6\xD0\xCE\xC4 text\n";  // "中文", GBK
const std::string kAppended = "appended 1\n";

// The other program: appends one line to `victim` the first time the seam sees the call it
// is hooked into.
std::string victim;
std::atomic<int> appends{0};

void append_once() {
  if (appends.fetch_add(1) != 0) return;
  const int fd = ::open(victim.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, kAppended.data(), kAppended.size()),
            static_cast<ssize_t>(kAppended.size()));
  ::close(fd);
}

ssize_t write_then_append(int fd, const void* data, size_t size) {
  append_once();  // while the target is being written
  return platform::real_sysio().write(fd, data, size);
}

// Right after the victim's bytes were read, before its target is made.
ssize_t read_then_append(int fd, void* data, size_t size) {
  const ssize_t n = platform::real_sysio().read(fd, data, size);
  struct stat read_one, named;
  if (::fstat(fd, &read_one) == 0 && ::stat(victim.c_str(), &named) == 0 &&
      read_one.st_ino == named.st_ino)
    append_once();
  return n;
}

int syncfs_then_append(int fd) {
  append_once();  // the target is written and flushed, its name not yet published
  return platform::real_sysio().syncfs(fd);
}

enum class Hook { during_write, before_publish };
enum class Size { whole, chunks };

class SourceChanged : public ::testing::TestWithParam<std::tuple<Hook, Size, bool>> {
 protected:
  JobPlan plan(const std::string& out) {
    JobPlan p = make_plan(tmp / "in", out, "GBK", "UTF-8");
    if (std::get<1>(GetParam()) == Size::chunks) {
      p.options.whole_file_limit = 4096;
      p.options.stream_chunk = 1024;
    }
    return p;
  }

  platform::ScopedSysIo scope;
  TempDir tmp;
};

TEST_P(SourceChanged, AppendedTextIsNeverLost) {
  const auto [hook, size, in_place] = GetParam();
  std::string original;
  while (original.size() < (size == Size::chunks ? 20000u : 200u)) original += kGbkLine;
  victim = tmp / "in/big.txt";
  write_file(victim, original);
  const std::string out = in_place ? tmp / "in" : tmp / "out";
  if (!in_place) write_file(out + "/big.txt", "older target");

  appends = 0;
  if (hook == Hook::during_write)
    platform::sysio().write = write_then_append;
  else
    platform::sysio().syncfs = syncfs_then_append;
  const JobReport first = run_job(plan(out));
  platform::sysio() = platform::real_sysio();
  ASSERT_GE(appends.load(), 1) << "the hook never ran";

  const FileReport* big = entry_for(first, "big.txt");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->outcome, Outcome::changed) << outcome_name(big->outcome);
  EXPECT_NE(big->note.find("changed while it was converted"), std::string::npos) << big->note;
  EXPECT_EQ(first.failures(), 1u);
  EXPECT_EQ(read_file(victim), original + kAppended);
  if (!in_place) {
    EXPECT_EQ(read_file(out + "/big.txt"), "older target");
  }

  const JobReport second = run_job(plan(out));
  EXPECT_EQ(entry_for(second, "big.txt")->outcome, Outcome::converted);
  EXPECT_EQ(read_file(out + "/big.txt"), iconv_command(original + kAppended, "GBK", "UTF-8"));
}

// Into a folder the run makes, the files are staged and named with their folder at the end:
// a source changed after it was read is still found then, whole or in chunks. A change right
// after the read is missed if the folder's watch starts only after it.
TEST(SourceChangedStaged, FreshOutputFolderLeavesTheChangedFileOut) {
  using Hooked = decltype(platform::SysIo::read);
  for (const auto& [size, read_hook] :
       {std::pair{Size::whole, false}, std::pair{Size::chunks, false},
        std::pair{Size::whole, true}}) {
    platform::ScopedSysIo scope;
    TempDir tmp;
    std::string original;
    while (original.size() < (size == Size::chunks ? 20000u : 200u)) original += kGbkLine;
    victim = tmp / "in/sub/big.txt";
    write_file(victim, original);
    write_file(tmp / "in/sub/other.txt", kGbkLine);
    JobPlan p = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
    if (size == Size::chunks) {
      p.options.whole_file_limit = 4096;
      p.options.stream_chunk = 1024;
    }
    appends = 0;
    if (read_hook)
      platform::sysio().read = static_cast<Hooked>(read_then_append);
    else
      platform::sysio().write = write_then_append;
    const JobReport r = run_job(p);
    platform::sysio() = platform::real_sysio();
    ASSERT_GE(appends.load(), 1) << "the hook never ran";
    EXPECT_EQ(entry_for(r, "sub/big.txt")->outcome, Outcome::changed);
    EXPECT_EQ(read_tree(tmp / "out").count("sub/big.txt"), 0u);
    EXPECT_EQ(read_file(victim), original + kAppended);
  }
}

// A source read through a link, or one with a second name outside the tree, changes where the
// watch of its folder cannot see: it is still found changed and left out.
TEST(SourceChangedStaged, ChangeThroughAnotherNameIsFound) {
  for (const bool symbolic : {true, false}) {
    platform::ScopedSysIo scope;
    TempDir tmp;
    std::string original;
    while (original.size() < 200u) original += kGbkLine;
    victim = tmp / "elsewhere/real.txt";
    write_file(victim, original);
    write_file(tmp / "in/sub/other.txt", kGbkLine);
    const std::string name = tmp / "in/sub/big.txt";
    ASSERT_EQ(
        symbolic ? ::symlink(victim.c_str(), name.c_str()) : ::link(victim.c_str(), name.c_str()),
        0);
    appends = 0;
    platform::sysio().write = write_then_append;
    const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"));
    platform::sysio() = platform::real_sysio();
    ASSERT_GE(appends.load(), 1) << "the hook never ran";
    EXPECT_EQ(entry_for(r, "sub/big.txt")->outcome, Outcome::changed) << symbolic;
    EXPECT_EQ(read_tree(tmp / "out").count("sub/big.txt"), 0u) << symbolic;
    EXPECT_EQ(entry_for(r, "sub/other.txt")->outcome, Outcome::converted) << symbolic;
  }
}

// After the search and before its conversion, a file or the folder it is in is swapped for a
// link to one outside the tree (the swap made when the other folder's file is read): it is
// `changed`, nothing outside is written or copied, in place and into another tree.
struct Swap {
  ino_t first[2] = {0, 0};  // the two sources' inodes: whichever is read first swaps the other
  std::string tree, outside;
  bool folder = false;
  std::atomic<int> done{0};
} swap;

ssize_t read_then_swap(int fd, void* data, size_t size) {
  struct stat st;
  if (::fstat(fd, &st) == 0 && swap.done.load() == 0 &&
      (st.st_ino == swap.first[0] || st.st_ino == swap.first[1])) {
    swap.done = st.st_ino == swap.first[0] ? 2 : 1;  // 1 + the index of the one swapped
    const std::string dir = swap.done == 1 ? "a" : "b";
    const std::string name = swap.done == 1 ? "x.cpp" : "y.cpp";
    const std::string entry = swap.tree + "/" + dir + (swap.folder ? "" : "/" + name);
    const std::string moved = swap.tree + "/../moved";
    EXPECT_EQ(::rename(entry.c_str(), moved.c_str()), 0);
    const std::string to = swap.folder ? swap.outside : swap.outside + "/" + name;
    EXPECT_EQ(::symlink(to.c_str(), entry.c_str()), 0);
  }
  return platform::real_sysio().read(fd, data, size);
}

TEST(SourceReplaced, LinkSwappedInAfterTheSearchLeadsNowhere) {
  for (const bool folder : {false, true}) {
    for (const bool in_place : {true, false}) {
      SCOPED_TRACE(std::string(folder ? "folder" : "file") + (in_place ? " in place" : ""));
      platform::ScopedSysIo scope;
      TempDir tmp;
      write_file(tmp / "in/a/x.cpp", kGbkLine);
      write_file(tmp / "in/b/y.cpp", kGbkLine);
      write_file(tmp / "outside/x.cpp", kGbkLine);
      write_file(tmp / "outside/y.cpp", kGbkLine);
      struct stat st;
      ASSERT_EQ(::stat((tmp / "in/a/x.cpp").c_str(), &st), 0);
      swap.first[0] = st.st_ino;
      ASSERT_EQ(::stat((tmp / "in/b/y.cpp").c_str(), &st), 0);
      swap.first[1] = st.st_ino;
      swap.tree = tmp / "in";
      swap.outside = tmp / "outside";
      swap.folder = folder;
      swap.done = 0;
      platform::sysio().read = read_then_swap;
      JobPlan plan = make_plan(tmp / "in", in_place ? tmp / "in" : tmp / "out", "GBK", "UTF-8");
      plan.options.threads = 1;
      const JobReport r = run_job(plan);
      platform::sysio() = platform::real_sysio();
      ASSERT_NE(swap.done.load(), 0) << "the hook never ran";
      const std::string swapped = swap.done == 1 ? "a/x.cpp" : "b/y.cpp";
      const std::string kept = swap.done == 1 ? "b/y.cpp" : "a/x.cpp";
      const FileReport* gone = entry_for(r, swapped);
      ASSERT_NE(gone, nullptr);
      EXPECT_EQ(gone->outcome, Outcome::changed) << outcome_name(gone->outcome);
      EXPECT_EQ(entry_for(r, kept)->outcome, Outcome::converted);
      EXPECT_EQ(read_file(tmp / "outside/x.cpp"), kGbkLine);
      EXPECT_EQ(read_file(tmp / "outside/y.cpp"), kGbkLine);
      if (!in_place) {
        EXPECT_EQ(read_tree(tmp / "out").count(swapped), 0u);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    WritersAndSizes, SourceChanged,
    ::testing::Combine(::testing::Values(Hook::during_write, Hook::before_publish),
                       ::testing::Values(Size::whole, Size::chunks), ::testing::Bool()));

}  // namespace
