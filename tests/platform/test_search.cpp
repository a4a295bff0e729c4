// The recursive search on real trees, and full_path.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/fsutil.h"
#include "platform/sys_io.h"
#include "policy/filter.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

using Found = std::vector<std::string>;  // "relative_dir|file_name" in the order reported

struct SearchResult {
  Found found;
  std::vector<std::pair<std::string, int>> errors;
};

SearchResult search(const std::string& root, const std::string& filter = "") {
  SearchResult r;
  filter_set set;
  build_filter_set(filter, set);
  std::string dir = root;
  const fsutil::search_error_callback on_error = [&r](const std::string& d, int e) {
    r.errors.emplace_back(d, e);
  };
  fsutil::search_files(
      root, dir,
      [&r](fsutil::search_file_info&& f) { r.found.push_back(f.relative_dir + "|" + f.file_name); },
      accept_by(set), &on_error);
  EXPECT_EQ(dir, root);  // extended while descending, restored on return
  return r;
}

std::set<std::string> as_set(const Found& f) { return {f.begin(), f.end()}; }

// Runs the search off this thread so that a blocking open fails the test instead of hanging it.
SearchResult search_bounded(const std::string& root) {
  auto promise = std::make_shared<std::promise<SearchResult>>();
  std::future<SearchResult> done = promise->get_future();
  std::thread([promise, root] { promise->set_value(search(root)); }).detach();
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "search blocked";
    return {};
  }
  return done.get();
}

}  // namespace

// Names starting with '.' are never reported, hidden directories never entered.
TEST(Search, HiddenEntriesPassedOver) {
  TempDir tmp;
  write_file(tmp / "a.txt", "x");
  write_file(tmp / ".hidden.txt", "x");
  write_file(tmp / ".git/config", "x");
  write_file(tmp / "src/.b.txt", "x");
  write_file(tmp / "src/b.txt", "x");
  write_file(tmp / "src/.cache/c.txt", "x");
  const SearchResult r = search(tmp.path());
  EXPECT_EQ(as_set(r.found), (std::set<std::string>{"|a.txt", "src|b.txt"}));
  EXPECT_TRUE(r.errors.empty());
}

// FIFOs, sockets and dangling links are passed over without blocking; a link to a regular
// file is reported like a file.
TEST(Search, SpecialFilesPassedOver) {
  TempDir tmp;
  write_file(tmp / "real.txt", "x");
  ASSERT_EQ(::mkfifo((tmp / "fifo").c_str(), 0644), 0);
  make_socket(tmp / "sock");
  ASSERT_EQ(::symlink("nowhere", (tmp / "dangling").c_str()), 0);
  ASSERT_EQ(::symlink("fifo", (tmp / "to_fifo").c_str()), 0);
  ASSERT_EQ(::symlink("real.txt", (tmp / "to_real").c_str()), 0);
  ASSERT_EQ(::symlink("to_real", (tmp / "to_to_real").c_str()), 0);
  const SearchResult r = search_bounded(tmp.path());
  EXPECT_EQ(as_set(r.found), (std::set<std::string>{"|real.txt", "|to_real", "|to_to_real"}));
}

// Links to directories are not entered, so a cycle of links cannot trap the search.
TEST(Search, DirectoryLinksNotEntered) {
  TempDir tmp;
  TempDir outside;
  write_file(tmp / "in/a.txt", "x");
  write_file(outside / "b.txt", "x");
  ASSERT_EQ(::symlink(".", (tmp / "in/loop").c_str()), 0);
  ASSERT_EQ(::symlink("..", (tmp / "in/up").c_str()), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), (tmp / "elsewhere").c_str()), 0);
  const SearchResult r = search_bounded(tmp.path());
  EXPECT_EQ(r.found, Found{"in|a.txt"});
}

// The root itself may be a link to a directory: it is what the user named.
TEST(Search, LinkedRootIsSearched) {
  TempDir tmp;
  write_file(tmp / "real/a.txt", "x");
  ASSERT_EQ(::symlink("real", (tmp / "root").c_str()), 0);
  EXPECT_EQ(search(tmp / "root").found, Found{"|a.txt"});
}

// A subdirectory's files are reported where the listing meets it, before its parent goes on.
TEST(Search, DepthFirstOrder) {
  TempDir tmp;
  std::set<std::string> expected;
  for (const char* d : {"", "a", "a/x", "a/x/deep", "b", "b/y", "c"})
    for (const char* f : {"1.txt", "2.txt", "3.txt"}) {
      const std::string rel = d;
      write_file(rel.empty() ? tmp / f : tmp / (rel + "/" + f), "x");
      expected.insert(rel + "|" + f);
    }
  const Found found = search(tmp.path()).found;
  EXPECT_EQ(as_set(found), expected);
  // Every directory's subtree is one contiguous run of the output.
  for (const std::string d : {"a", "a/x", "a/x/deep", "b", "b/y", "c"}) {
    std::vector<size_t> at;
    for (size_t i = 0; i < found.size(); ++i) {
      const std::string rel = found[i].substr(0, found[i].find('|'));
      if (rel == d || rel.compare(0, d.size() + 1, d + "/") == 0) at.push_back(i);
    }
    ASSERT_FALSE(at.empty()) << d;
    EXPECT_EQ(at.back() - at.front() + 1, at.size()) << d;
  }
}

// A root written with trailing separators yields the same relative directories.
TEST(Search, TrailingSeparatorOnRoot) {
  TempDir tmp;
  write_file(tmp / "r/a.txt", "x");
  write_file(tmp / "r/s/t/b.txt", "x");
  const std::set<std::string> expected = {"|a.txt", "s/t|b.txt"};
  EXPECT_EQ(as_set(search(tmp / "r").found), expected);
  EXPECT_EQ(as_set(search(tmp / "r/").found), expected);
  EXPECT_EQ(as_set(search(tmp / "r//").found), expected);
}

// The filter sees "/" + relative_dir + "/" + name; it applies to files, never to directories.
TEST(Search, FilterSeesMatchPath) {
  TempDir tmp;
  write_file(tmp / "x.h", "x");
  write_file(tmp / "sub/x.h", "x");
  write_file(tmp / "sub/y.c", "x");
  write_file(tmp / "lib.old/Makefile", "x");
  EXPECT_EQ(as_set(search(tmp.path(), "!/sub/x").found),
            (std::set<std::string>{"|x.h", "sub|y.c", "lib.old|Makefile"}));
  EXPECT_EQ(as_set(search(tmp.path(), "*.h").found), (std::set<std::string>{"|x.h", "sub|x.h"}));
  EXPECT_EQ(as_set(search(tmp.path(), "*.old/Makefile").found),
            std::set<std::string>{"lib.old|Makefile"});
}

// An empty root lists nothing; a missing one is reported to the error callback.
TEST(Search, EmptyOrMissingRoot) {
  TempDir tmp;
  write_file(tmp / "a.txt", "x");
  ScopedCwd cwd(tmp.path());
  const SearchResult empty = search("");
  EXPECT_TRUE(empty.found.empty());
  EXPECT_TRUE(empty.errors.empty());
  const SearchResult missing = search(tmp / "missing");
  EXPECT_TRUE(missing.found.empty());
  ASSERT_EQ(missing.errors.size(), 1u);
  EXPECT_EQ(missing.errors[0].second, ENOENT);
  EXPECT_EQ(search(tmp / "a.txt").errors.size(), 1u);
}

// A stop request ends the walk: nothing more is reported once it is set.
TEST(Search, StopRequestEndsWalk) {
  TempDir tmp;
  for (const char* f : {"a/1.txt", "a/2.txt", "b/3.txt", "c/d/4.txt", "5.txt"})
    write_file(tmp / f, "x");
  filter_set all;
  build_filter_set("", all);
  std::atomic<bool> stop{false};
  int reported = 0;
  std::string dir = tmp.path();
  fsutil::search_files(
      tmp.path(), dir,
      [&](fsutil::search_file_info&&) {
        ++reported;
        stop.store(true);
      },
      accept_by(all), nullptr, &stop);
  EXPECT_EQ(reported, 1);
  EXPECT_EQ(dir, tmp.path());
  dir = tmp.path();
  fsutil::search_files(
      tmp.path(), dir, [&](fsutil::search_file_info&&) { ++reported; }, accept_by(all), nullptr,
      &stop);
  EXPECT_EQ(reported, 1);
}

// A subdirectory that cannot be listed is reported and its siblings are still searched.
TEST(Search, UnreadableSubdirectoryReported) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir tmp;
  write_file(tmp / "a/1.txt", "x");
  write_file(tmp / "locked/2.txt", "x");
  write_file(tmp / "z/3.txt", "x");
  ASSERT_EQ(::chmod((tmp / "locked").c_str(), 0), 0);
  const SearchResult r = search(tmp.path());
  EXPECT_EQ(as_set(r.found), (std::set<std::string>{"a|1.txt", "z|3.txt"}));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].first, tmp / "locked");
  EXPECT_EQ(r.errors[0].second, EACCES);
}

// A directory whose path is too long to open is reported, not silently dropped.
TEST(Search, OverlongPathReported) {
  TempDir tmp;
  write_file(tmp / "a.txt", "x");
  DeepChain chain(tmp.path());
  const SearchResult r = search(tmp.path());
  EXPECT_TRUE(std::find(r.found.begin(), r.found.end(), "|a.txt") != r.found.end());
  ASSERT_FALSE(r.errors.empty());
  EXPECT_EQ(r.errors.back().second, ENAMETOOLONG);
}

// full_path: absolute and lexically normalised, the file need not exist; empty for no path.
TEST(FullPath, AbsoluteAndNormalised) {
  TempDir tmp;
  ScopedCwd cwd(tmp.path());
  char* here = ::getcwd(nullptr, 0);
  const std::string base = here;
  ::free(here);
  EXPECT_EQ(fsutil::full_path("ouzel.yml").value_or(""), base + "/ouzel.yml");
  EXPECT_EQ(fsutil::full_path("./a/../b//c/").value_or(""), base + "/b/c");
  EXPECT_EQ(fsutil::full_path("/x/./y/../z").value_or(""), "/x/z");
  EXPECT_EQ(fsutil::full_path("/../..").value_or(""), "/");
  EXPECT_EQ(fsutil::full_path("/").value_or(""), "/");
  EXPECT_EQ(fsutil::full_path("").err(), EINVAL);
  EXPECT_EQ(fsutil::full_path(std::string_view("a\0b", 3)).err(), EINVAL);
}

namespace {

std::string refused_dir;  // the folder whose open the seam refuses (EACCES)
ino_t unlistable = 0;     // the folder whose listing the seam fails (EIO) after some entries
constexpr unsigned kListedBeforeFailing = 4;
unsigned listed_before_failing = 0;

// What a walk reports, in its order: "f rel|name", "s rel|name" (skipped), "e dir errno",
// "x dir" (left out).
using Events = std::vector<std::string>;

Events search_events(const std::string& root, unsigned threads, const struct stat& left_out) {
  Events events;
  const fsutil::search_error_callback on_error = [&](const std::string& d, int e) {
    events.push_back("e " + d + " " + std::to_string(e));
  };
  fsutil::search_options options;
  options.on_error = &on_error;
  options.threads = threads;
  options.exclude = true;
  options.exclude_dev = left_out.st_dev;
  options.exclude_ino = left_out.st_ino;
  options.on_excluded = [&](const std::string& d) { events.push_back("x " + d); };
  options.on_skipped = [&](fsutil::search_file_info&& f, const char*) {
    events.push_back("s " + f.relative_dir + "|" + f.file_name);
  };
  // Told before the first file how many entries at most will come: none come beyond it.
  size_t listed = 0;
  options.on_listed = [&](size_t n) {
    EXPECT_TRUE(events.empty());
    listed = n;
  };
  std::string dir = root;
  listed_before_failing = 0;
  fsutil::search_files(
      root, dir,
      [&](fsutil::search_file_info&& f) {
        events.push_back("f " + f.relative_dir + "|" + f.file_name);
      },
      nullptr, options);
  EXPECT_GE(listed, size_t(std::count_if(events.begin(), events.end(), [](const std::string& e) {
              return e[0] == 'f' || e[0] == 's';
            })));
  return events;
}

// The reference: the rules walked with readdir directly, in its order.
void reference_walk(const std::string& dir, const std::string& rel, const struct stat& left_out,
                    Events& events) {
  if (dir == refused_dir) {
    events.push_back("e " + dir + " " + std::to_string(EACCES));
    return;
  }
  struct stat here;
  ASSERT_EQ(::stat(dir.c_str(), &here), 0);
  if (here.st_ino == left_out.st_ino && here.st_dev == left_out.st_dev) {
    events.push_back("x " + dir);
    return;
  }
  DIR* d = ::opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  std::vector<std::string> names;
  for (const dirent* e; names.size() < (here.st_ino == unlistable ? kListedBeforeFailing : ~0u) &&
                        (e = ::readdir(d)) != nullptr;)
    names.emplace_back(e->d_name);
  ::closedir(d);
  // The failure is said before what was listed up to it.
  if (here.st_ino == unlistable) events.push_back("e " + dir + " " + std::to_string(EIO));
  const std::string prefix = rel.empty() ? "" : rel + "/";
  for (const std::string& name : names) {
    if (name[0] == '.') continue;
    struct stat st;
    ASSERT_EQ(::lstat((dir + "/" + name).c_str(), &st), 0);
    if (S_ISDIR(st.st_mode)) {
      reference_walk(dir + "/" + name, prefix + name, left_out, events);
      continue;
    }
    if (S_ISLNK(st.st_mode) && ::stat((dir + "/" + name).c_str(), &st) != 0) st.st_mode = 0;
    if (S_ISDIR(st.st_mode)) continue;  // a link to a folder
    events.push_back((S_ISREG(st.st_mode) ? "f " : "s ") + rel + "|" + name);
  }
}

}  // namespace

// Listed on several threads, a tree is reported in exactly the order one thread walks it,
// failures and left-out folders in their places, and a stop ends it at the same point.
TEST(Search, ThreadsReportInTheWalkOrder) {
  TempDir tmp;
  const std::string root = tmp / "in";
  for (int d = 0; d < 40; ++d) {
    const std::string sub = root + "/d" + std::to_string(d % 8) + "/s" + std::to_string(d);
    for (int f = 0; f < 5; ++f) write_file(sub + "/f" + std::to_string(f) + ".txt", "x");
    write_file(sub + "/.hidden", "x");
  }
  write_file(root + "/top.txt", "x");
  ASSERT_EQ(::mkfifo((root + "/d1/fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("nowhere", (root + "/d2/s2/dangling").c_str()), 0);
  ASSERT_EQ(::symlink("../d3", (root + "/d2/to_dir").c_str()), 0);
  write_file(root + "/d4/out/old.txt", "x");
  write_file(root + "/d5/refused/a.txt", "x");
  for (const char* name : {"b.txt", "c.txt", "d.txt", "e.txt"})
    write_file(root + "/d6/broken/" + name, "x");
  struct stat left_out, broken;
  ASSERT_EQ(::stat((root + "/d4/out").c_str(), &left_out), 0);
  ASSERT_EQ(::stat((root + "/d6/broken").c_str(), &broken), 0);
  refused_dir = root + "/d5/refused";
  unlistable = broken.st_ino;
  platform::ScopedSysIo seam;
  platform::sysio().open = [](const char* path, int flags, mode_t mode) {
    if (path == refused_dir) {
      errno = EACCES;
      return -1;
    }
    return ::open(path, flags, mode);
  };
  platform::sysio().readdir = [](DIR* d) -> dirent* {
    struct stat st;
    if (::fstat(::dirfd(d), &st) != 0 || st.st_ino != unlistable ||
        listed_before_failing++ < kListedBeforeFailing)
      return ::readdir(d);
    errno = EIO;
    return nullptr;
  };
  Events expected;
  reference_walk(root, "", left_out, expected);
  // The 200 in the folders, top.txt, and what the broken folder listed before failing.
  ASSERT_GE(std::count_if(expected.begin(), expected.end(),
                          [](const std::string& e) { return e[0] == 'f'; }),
            201);
  EXPECT_EQ(search_events(root, 1, left_out), expected);
  for (int round = 0; round < 20; ++round)
    ASSERT_EQ(search_events(root, 1 + round % 4, left_out), expected) << round;

  std::atomic<bool> stop{false};
  fsutil::search_options options;
  options.stop = &stop;
  options.threads = 3;
  Found found;
  std::string dir = root;
  fsutil::search_files(
      root, dir,
      [&](fsutil::search_file_info&& f) {
        found.push_back(f.relative_dir + "|" + f.file_name);
        if (found.size() == 7) stop = true;
      },
      nullptr, options);
  EXPECT_EQ(found.size(), 7u);
}

// A listing is closed also when its caller throws from within it (out of memory, say).
TEST(Search, ListingClosedWhenItsCallerThrows) {
  TempDir tmp;
  write_file(tmp / "a.txt", "x");
  const int fd = ::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_THROW(
      (void)platform::each_entry(fd, [](const dirent&) { throw std::runtime_error("full"); }),
      std::runtime_error);
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}
