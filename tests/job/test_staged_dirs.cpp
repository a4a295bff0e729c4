// New output folders filled under a hidden name and named whole at the end of a run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "job/job.h"
#include "job/output_dirs.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "platform/temp_name.h"
#include "tests/support/test_support.h"

namespace {
using namespace testing_support;

class StagedDirs : public ::testing::Test {
 protected:
  // Writes `name` with `text` into the prepared directory of `relative_dir`, as the job does.
  void write(OutputDirs& dirs, const std::string& relative_dir, const std::string& name,
             const std::string& text, uint64_t token,
             const std::optional<platform::FileStamp>& stamp = std::nullopt,
             const std::string& source = {}) {
    std::string dir;
    bool made = false, staged = false;
    ASSERT_EQ(dirs.prepare(relative_dir, dir, &made, &staged), 0);
    ASSERT_TRUE(made && staged) << dir;
    platform::TargetFile t;
    ASSERT_TRUE(t.open_staged(dir + "/" + name));
    ASSERT_EQ(t.append(text), 0);
    ASSERT_EQ(t.commit(), 0);
    dirs.staged_file(dir + "/" + name, text.size(), token, source, stamp);
  }
  std::map<uint64_t, int> publish(OutputDirs& dirs, bool durable = true) {
    std::map<uint64_t, int> failed;
    dirs.publish_staged(durable, [&](uint64_t token, int err) { failed[token] = err; });
    return failed;
  }
  std::vector<std::string> said;
  OutputDirs::Say say = [this](const std::string& line) { said.push_back(line); };
  platform::ScopedSysIo scope;
  TempDir tmp;
};

// Nothing shows under the real names until the end; then the folders appear whole, and no
// hidden folder is left.
TEST_F(StagedDirs, FolderAppearsWholeAtTheEnd) {
  ::mkdir((tmp / "out").c_str(), 0777);
  OutputDirs dirs(tmp / "out", false, say, true);
  write(dirs, "a/b", "f.txt", "one", 1);
  write(dirs, "a", "g.txt", "two", 2);
  write(dirs, "c", "h.txt", "three", 3);
  EXPECT_EQ(list_tree(tmp / "out").size(), 3u);  // all of them under hidden names
  EXPECT_FALSE(file_exists(tmp / "out/a"));
  EXPECT_FALSE(file_exists(tmp / "out/c"));
  EXPECT_TRUE(publish(dirs).empty());
  EXPECT_EQ(read_tree(tmp / "out"),
            (std::map<std::string, std::string>{
                {"a/b/f.txt", "one"}, {"a/g.txt", "two"}, {"c/h.txt", "three"}}));
}

// Someone makes the folder while the run fills its hidden twin: the files move in one by one,
// and a file of theirs already at a target's name stays theirs.
TEST_F(StagedDirs, FolderMadeMeanwhileIsMergedAndTheirsWins) {
  ::mkdir((tmp / "out").c_str(), 0777);
  OutputDirs dirs(tmp / "out", false, say, true);
  write(dirs, "a/b", "f.txt", "ours f", 1);
  write(dirs, "a/b", "g.txt", "ours g", 2);
  write_file(tmp / "out/a/b/f.txt", "theirs");
  const auto failed = publish(dirs);
  EXPECT_EQ(failed, (std::map<uint64_t, int>{{1, EEXIST}}));
  EXPECT_EQ(read_tree(tmp / "out"),
            (std::map<std::string, std::string>{{"a/b/f.txt", "theirs"}, {"a/b/g.txt", "ours g"}}));
}

// A source that changed after it was read is left out: its output would miss what was written.
TEST_F(StagedDirs, ChangedSourceIsLeftOut) {
  write_file(tmp / "src/s.txt", "old");
  const platform::Result<platform::FileStamp> stamped = platform::stamp_file(tmp / "src/s.txt");
  ASSERT_TRUE(stamped);
  const platform::FileStamp stamp = *stamped;
  OutputDirs dirs(tmp / "out", true, say, true);
  ::mkdir((tmp / "out").c_str(), 0777);
  write(dirs, "d", "s.txt", "converted old", 1, stamp, tmp / "src/s.txt");
  write(dirs, "d", "t.txt", "other", 2);
  write_file(tmp / "src/s.txt", "old and more");
  EXPECT_EQ(publish(dirs), (std::map<uint64_t, int>{{1, platform::kSourceChanged}}));
  EXPECT_EQ(read_tree(tmp / "out"), (std::map<std::string, std::string>{{"d/t.txt", "other"}}));
}

// Many files over several folders, the sources looked at again on two threads while the disk
// flushes: exactly the changed ones are left out, durable or not.
TEST_F(StagedDirs, ChangedSourcesAmongManyAreLeftOutExactly) {
  for (const bool durable : {true, false}) {
    const std::string src = tmp / (durable ? "src1" : "src2");
    const std::string out = tmp / (durable ? "out1" : "out2");
    OutputDirs dirs(out, true, say, true, durable);
    ::mkdir(out.c_str(), 0777);
    std::map<uint64_t, int> want;
    std::map<std::string, std::string> kept;
    for (uint64_t i = 0; i < 200; ++i) {
      const std::string name = "f" + std::to_string(i) + ".txt";
      const std::string source = src + "/" + name;
      write_file(source, "old");
      const platform::Result<platform::FileStamp> stamp = platform::stamp_file(source);
      ASSERT_TRUE(stamp);
      const std::string folder = "d" + std::to_string(i % 3);
      write(dirs, folder, name, "new " + name, i, *stamp, source);
      if (i % 7 == 3) {
        write_file(source, "changed meanwhile");
        want[i] = platform::kSourceChanged;
      } else {
        kept[folder + "/" + name] = "new " + name;
      }
    }
    EXPECT_EQ(publish(dirs, durable), want) << durable;
    EXPECT_EQ(read_tree(out), kept) << durable;
  }
}

// Threads filling the same new folders at once, as the job's do: every folder is made once,
// whichever thread comes first, and every file is named at the end.
TEST_F(StagedDirs, ThreadsFillingNewFoldersAtOnceLoseNothing) {
  ::mkdir((tmp / "out").c_str(), 0777);
  OutputDirs dirs(tmp / "out", false, say, true, true);
  constexpr int kThreads = 3, kFiles = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kFiles; ++i) {
        const std::string folder = "a/b" + std::to_string(i / 20) + "/c" + std::to_string(i % 3);
        const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
        write(dirs, folder, name, name, static_cast<uint64_t>(i * kThreads + t));
      }
    });
  for (std::thread& t : threads) t.join();
  std::map<std::string, std::string> want;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
      want["a/b" + std::to_string(i / 20) + "/c" + std::to_string(i % 3) + "/" + name] = name;
    }
  EXPECT_TRUE(publish(dirs).empty());
  EXPECT_EQ(read_tree(tmp / "out"), want);
  EXPECT_EQ(list_tree(tmp / "out").size(), want.size());  // no hidden folder left either
}

std::atomic<int> background_syncs{0};

// Durable: once enough is staged a flush starts while the run goes on, and the flush before
// naming still comes.
TEST_F(StagedDirs, DurableFlushStartsInTheBackground) {
  ::mkdir((tmp / "out").c_str(), 0777);
  platform::sysio().syncfs = [](int fd) {
    ++background_syncs;
    return platform::real_sysio().syncfs(fd);
  };
  OutputDirs dirs(tmp / "out", false, say, true, true);
  const std::string big(12 << 20, 'x');
  for (uint64_t i = 0; i < 3; ++i) write(dirs, "a", "f" + std::to_string(i), big, i);
  for (int waited = 0; background_syncs == 0 && waited < 500; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(background_syncs, 1);  // 36 MiB staged: one request
  EXPECT_FALSE(file_exists(tmp / "out/a"));
  EXPECT_TRUE(publish(dirs).empty());
  EXPECT_EQ(background_syncs, 3);  // then one before naming, one after
  EXPECT_EQ(read_file(tmp / "out/a/f2").size(), big.size());
}

// A folder that cannot be named fails each of its files, and leaves nothing behind.
TEST_F(StagedDirs, FailedRenameFailsEveryFileAndLeavesNothing) {
  ::mkdir((tmp / "out").c_str(), 0777);
  OutputDirs dirs(tmp / "out", false, say, true);
  write(dirs, "a", "f.txt", "one", 1);
  write(dirs, "a/b", "g.txt", "two", 2);
  platform::sysio().rename_noreplace = [](const char*, const char*) {
    errno = EIO;
    return -1;
  };
  EXPECT_EQ(publish(dirs), (std::map<uint64_t, int>{{1, EIO}, {2, EIO}}));
  EXPECT_TRUE(list_dir(tmp / "out").empty());
}

// Durable: a failed flush keeps the folder from being named at all.
TEST_F(StagedDirs, FailedSyncNamesNothing) {
  ::mkdir((tmp / "out").c_str(), 0777);
  OutputDirs dirs(tmp / "out", false, say, true);
  write(dirs, "a", "f.txt", "one", 7);
  platform::sysio().syncfs = [](int) {
    errno = ENOSPC;
    return -1;
  };
  EXPECT_EQ(publish(dirs), (std::map<uint64_t, int>{{7, ENOSPC}}));
  EXPECT_TRUE(list_dir(tmp / "out").empty());
}

// What a killed run left is swept (said so) before anything is written there; entries of other
// kinds under similar names are not ours and stay.
TEST_F(StagedDirs, KilledRunsFoldersAreSwept) {
  write_file(tmp / "out/.a.ouzel-new-Ab12Cd/x/y.txt", "half");
  write_file(tmp / "out/.b.ouzel-new-Ab12Cd", "a file, not a folder");
  write_file(tmp / "out/.c.ouzel-new-Ab1/z.txt", "not the pattern");
  ASSERT_EQ(::symlink("/tmp", (tmp / "out/.d.ouzel-new-Zz99Yy").c_str()), 0);
  OutputDirs dirs(tmp / "out", false, say, true);
  std::string dir;
  ASSERT_EQ(dirs.prepare("", dir), 0);
  EXPECT_EQ(
      list_dir(tmp / "out"),
      (std::vector<std::string>{".b.ouzel-new-Ab12Cd", ".c.ouzel-new-Ab1", ".d.ouzel-new-Zz99Yy"}));
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0], "Removed 1 unfinished folder a stopped run left in " + (tmp / "out"));
}

// Without staging (a dry run) folders are made under their names, as before.
TEST_F(StagedDirs, OffMakesFoldersUnderTheirNames) {
  OutputDirs dirs(tmp / "out", false, say, false);
  ::mkdir((tmp / "out").c_str(), 0777);
  std::string dir;
  bool made = false, staged = true;
  ASSERT_EQ(dirs.prepare("a/b", dir, &made, &staged), 0);
  EXPECT_EQ(dir, tmp / "out/a/b");
  EXPECT_TRUE(made);
  EXPECT_FALSE(staged);
  EXPECT_TRUE(file_exists(tmp / "out/a/b"));
}

// The job over a fresh tree: every file converted, each folder named once, nothing hidden left,
// and a stop still names what was done.
TEST_F(StagedDirs, JobIntoFreshTreeLeavesNoHiddenFolder) {
  for (int i = 0; i < 40; ++i)
    write_file(tmp / ("in/d" + std::to_string(i % 4) + "/e/f" + std::to_string(i) + ".txt"),
               "\xD6\xD0\xCE\xC4 " + std::to_string(i) + "\n");
  const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"));
  EXPECT_EQ(r.failures(), 0u);
  const auto tree = read_tree(tmp / "out");
  ASSERT_EQ(tree.size(), 40u);
  for (const auto& [path, text] : tree) {
    EXPECT_EQ(path.find(".ouzel-"), std::string::npos) << path;
    EXPECT_EQ(text.substr(0, 6), "\xE4\xB8\xAD\xE6\x96\x87") << path;
  }
}

}  // namespace
