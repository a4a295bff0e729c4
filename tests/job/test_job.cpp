// The conversion job: checks, messages, output root, encodings of the run, failure lines,
// the one-step start, the settings snapshot and stop-and-wait.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

constexpr size_t kStampLen = 25;

// "中文编码" in GBK, and the same text in UTF-8.
const std::string kGbk = "\xD6\xD0\xCE\xC4\xB1\xE0\xC2\xEB\n";
const std::string kUtf8 = "\xE4\xB8\xAD\xE6\x96\x87\xE7\xBC\x96\xE7\xA0\x81\n";

std::vector<std::string> messages(AppState& app) {
  std::lock_guard g(app.log.lines_lock);
  std::vector<std::string> out;
  for (const auto& l : app.log.lines) out.push_back(l.substr(kStampLen));
  return out;
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

class JobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.encodings = {"BIG5", "GBK", "UTF-8", "UTF-8 with BOM", "UTF-16LE"};
    app.filters = {"*.cpp;*.h", "*.txt", "*.*"};
    app.filter_index = 2;
    app.from_index = app.index_of("GBK");
    app.to_index = app.index_of("UTF-8");
    app.input = tmp / "in";
    app.output = tmp / "out";
  }

  // Runs one job on this thread, as the worker would.
  std::vector<std::string> run() {
    app.log.clear();
    app.jobs.prepare(*app.plan_from_settings());
    app.jobs.run();
    EXPECT_TRUE(app.worker_idle.load());
    return messages(app);
  }

  // Bounded, so a job that never ends fails the test instead of hanging the suite.
  template <typename Pred>
  static bool wait_until(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }

  void wait_for_worker() {
    ASSERT_TRUE(wait_until([&] { return app.worker_idle.load(); }));
    app.jobs.wait();
  }

  TempDir tmp;
  AppState app{AppState::no_config};
};

}  // namespace

// The three checks end the run with their one message.
TEST_F(JobTest, ChecksEndTheRun) {
  app.input.clear();
  EXPECT_EQ(run(), std::vector<std::string>{"Input directory can't be empty!"});
  write_file(tmp / "file", "x");
  app.input = tmp / "file";
  EXPECT_EQ(run(), std::vector<std::string>{"Input directory not exists!"});
  app.input = tmp / "missing";
  EXPECT_EQ(run(), std::vector<std::string>{"Input directory not exists!"});
  mkdir(app.input.c_str(), 0755);
  app.output.clear();
  EXPECT_EQ(run(), std::vector<std::string>{"Output directory can't be empty!"});
}

// A clean run logs exactly the fixed lines and mirrors the tree, converted.
TEST_F(JobTest, CleanRunLogsFixedLinesAndMirrorsTree) {
  write_file(tmp / "in/a.txt", kGbk);
  write_file(tmp / "in/sub/deeper/b.txt", kGbk + kGbk);
  app.output = tmp / "out/x/y";  // missing, with missing parents
  const auto m = run();
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m[0], "Converting GBK-->UTF-8, please wait...");
  EXPECT_EQ(m[1], "Searching files(*.*)...");
  EXPECT_TRUE(starts_with(m[2], "Search complete, cost: ")) << m[2];
  EXPECT_NE(m[2].find(", 2 files found, starting convert..."), std::string::npos) << m[2];
  EXPECT_TRUE(starts_with(m[3], "Processing file: "));
  EXPECT_TRUE(starts_with(m[4], "Processing file: "));
  EXPECT_TRUE(starts_with(m[5], "Convert complete, total: 2, cost: ")) << m[5];
  EXPECT_EQ(m[5].substr(m[5].size() - 9), "seconds\r\n");
  EXPECT_EQ(read_file(tmp / "out/x/y/a.txt"), kUtf8);
  EXPECT_EQ(read_file(tmp / "out/x/y/sub/deeper/b.txt"), kUtf8 + kUtf8);
  EXPECT_FLOAT_EQ(app.jobs.progress().fraction, 1.0f);
  EXPECT_EQ(app.jobs.progress().bytes_done, 3 * kGbk.size());
}

// A filter index beyond the list runs with "*.*".
TEST_F(JobTest, FilterIndexOutOfRangeMeansEveryFile) {
  write_file(tmp / "in/Makefile", "all:\n");
  app.filter_index = 7;
  const auto m = run();
  EXPECT_EQ(m[1], "Searching files(*.*)...");
  EXPECT_EQ(read_file(tmp / "out/Makefile"), "all:\n");
}

// "UTF-8 with BOM" as target: converter name UTF-8, every file starts with one mark.
TEST_F(JobTest, TargetWithBomWritesMark) {
  write_file(tmp / "in/a.txt", kGbk);
  app.to_index = app.index_of("UTF-8 with BOM");
  const auto m = run();
  EXPECT_EQ(m[0], "Converting GBK-->UTF-8 with BOM, please wait...");
  EXPECT_EQ(app.jobs.plan().target.charset, "UTF-8");
  EXPECT_EQ(read_file(tmp / "out/a.txt"), "\xEF\xBB\xBF" + kUtf8);
}

// "UTF-8 with BOM" as source reads as UTF-8 with its mark dropped.
TEST_F(JobTest, SourceWithBomReadsAsUtf8) {
  write_file(tmp / "in/a.txt", "\xEF\xBB\xBF" + kUtf8);
  app.from_index = app.index_of("UTF-8 with BOM");
  app.to_index = app.index_of("GBK");
  const auto m = run();
  EXPECT_EQ(m.size(), 5u) << m.back();
  EXPECT_EQ(read_file(tmp / "out/a.txt"), kGbk);
}

// Another base name "with BOM" loses the suffix and gets no mark.
TEST_F(JobTest, OtherWithBomNameGetsNoMark) {
  app.encodings.push_back("UTF-16LE with BOM");
  app.to_index = app.index_of("UTF-16LE with BOM");
  write_file(tmp / "in/a.txt", "A");
  run();
  EXPECT_EQ(app.jobs.plan().target.charset, "UTF-16LE");
  EXPECT_FALSE(app.jobs.plan().target.utf8_mark);
  EXPECT_EQ(read_file(tmp / "out/a.txt"), std::string("A\0", 2));
}

// An encoding index that names no entry falls back to GBK or UTF-8 (not the last run's
// choice); without them in the catalogue nothing starts, and the log says why.
TEST_F(JobTest, EncodingIndexNamingNothingFallsBack) {
  mkdir(app.input.c_str(), 0755);
  app.from_index = app.index_of("BIG5");
  app.to_index = app.index_of("UTF-16LE");
  run();
  app.from_index = static_cast<int32_t>(app.encodings.size());
  app.to_index = -1;
  EXPECT_EQ(run()[0], "Converting GBK-->UTF-8, please wait...");

  app.encodings = {"BIG5"};
  app.log.clear();
  app.request_convert();
  app.request_preview();
  EXPECT_TRUE(app.worker_idle.load());
  const std::vector<std::string> m = messages(app);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_TRUE(starts_with(m[0], "cannot start: unknown encoding \"GBK\""));
  EXPECT_EQ(m[0], m[1]);
}

// No file accepted: zero counts, progress keeps the previous value.
TEST_F(JobTest, NoFilesKeepsProgress) {
  write_file(tmp / "in/a.bin", "x");
  app.filter_index = 0;
  app.jobs.publish(ProgressSnapshot{0, 0, 0.0f, 0.25f, 0, 0});
  const auto m = run();
  ASSERT_EQ(m.size(), 4u);
  EXPECT_NE(m[2].find(", 0 files found,"), std::string::npos);
  EXPECT_TRUE(starts_with(m[3], "Convert complete, total: 0, cost: "));
  EXPECT_FLOAT_EQ(app.jobs.progress().fraction, 0.25f);
}

// Every file not converted as asked gets one line after its "Processing file", and a count.
TEST_F(JobTest, FailuresAreReported) {
  write_file(tmp / "in/good.txt", kGbk);
  write_file(tmp / "in/sub/bad.txt", "ab\xFF\xFF\xFF");
  write_file(tmp / "in/sub/dir.txt", kGbk);
  mkdir((tmp / "out").c_str(), 0755);
  mkdir((tmp / "out/sub").c_str(), 0755);
  mkdir((tmp / "out/sub/dir.txt").c_str(), 0755);  // a directory where the target goes
  const auto m = run();
  std::vector<std::string> failures;
  for (size_t i = 0; i < m.size(); ++i)
    if (starts_with(m[i], "Cannot ")) {
      failures.push_back(m[i]);
      EXPECT_TRUE(starts_with(m[i - 1], "Processing file: "));
    }
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_TRUE(std::count(failures.begin(), failures.end(),
                         "Cannot convert file: sub/bad.txt, GBK-->UTF-8 stops at byte 2 (line "
                         "1, column 3), copied unchanged"));
  EXPECT_TRUE(std::count(failures.begin(), failures.end(),
                         "Cannot write file: sub/dir.txt, error: 21 (Is a directory)"));
  EXPECT_EQ(m.back(), "2 of 3 files were not converted, see the report");
  EXPECT_EQ(read_file(tmp / "out/sub/bad.txt"), "ab\xFF\xFF\xFF");
}

// A pair the converter does not know is named as such; the file is copied.
TEST_F(JobTest, UnsupportedPairIsReported) {
  write_file(tmp / "in/a.txt", kGbk);
  app.encodings.push_back("NO-SUCH-CHARSET");
  app.from_index = app.index_of("NO-SUCH-CHARSET");
  const auto m = run();
  EXPECT_EQ(m[4],
            "Cannot convert file: a.txt, NO-SUCH-CHARSET-->UTF-8 is not supported, copied "
            "unchanged");
  EXPECT_EQ(read_file(tmp / "out/a.txt"), kGbk);
}

// Two start requests in a row start one job; the second logs the busy line.
TEST_F(JobTest, TwoRequestsStartOneJob) {
  // Few enough files that every line of the run stays within the log's 100-line cap.
  for (int i = 0; i < 50; ++i) write_file(tmp / ("in/f" + std::to_string(i) + ".txt"), kGbk);
  app.request_convert();
  app.request_convert();
  wait_for_worker();
  int converting = 0, busy = 0;
  for (const auto& s : messages(app)) {
    converting += starts_with(s, "Converting ");
    busy += s == "The worker thread is busy...";
  }
  EXPECT_EQ(converting, 1);
  EXPECT_EQ(busy, 1);
}

// Editing the settings while a job runs changes nothing under it.
TEST_F(JobTest, SettingsSnapshotIsolatesRunningJob) {
  for (int i = 0; i < 300; ++i) write_file(tmp / ("in/f" + std::to_string(i) + ".txt"), kGbk);
  app.request_convert();
  for (int i = 0; i < 50; ++i) {
    app.input = "/nonexistent";
    app.output = tmp / "elsewhere";
    app.filter_index = 0;
    app.to_index = app.index_of("BIG5");
  }
  wait_for_worker();
  EXPECT_EQ(read_file(tmp / "out/f299.txt"), kUtf8);
  EXPECT_FALSE(file_exists(tmp / "elsewhere"));
}

// A stop request that comes during the search ends the run before any file is converted.
TEST_F(JobTest, StopDuringSearchConvertsNothing) {
  write_file(tmp / "in/a.txt", kGbk);
  app.log.clear();
  app.jobs.prepare(*app.plan_from_settings()).request_stop();
  app.jobs.run();
  const auto m = messages(app);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[1], "Searching files(*.*)...");
  EXPECT_EQ(m[2], "Conversion stopped during the search");
  EXPECT_FALSE(file_exists(tmp / "out/a.txt"));
}

// Stop-and-wait: the job ends between files; no file is left cut.
TEST_F(JobTest, StopWaitsForCurrentFile) {
  const std::string big(200000, 'a');
  for (int i = 0; i < 400; ++i) write_file(tmp / ("in/f" + std::to_string(i) + ".txt"), big);
  app.request_convert();
  const bool started = wait_until([&] { return app.jobs.progress().fraction > 0.0f; });
  app.stop_worker();
  ASSERT_TRUE(started);
  EXPECT_TRUE(app.worker_idle.load());
  int written = 0;
  for (int i = 0; i < 400; ++i) {
    const std::string p = tmp / ("out/f" + std::to_string(i) + ".txt");
    if (!file_exists(p)) continue;
    ++written;
    EXPECT_EQ(read_file(p).size(), big.size()) << p;
  }
  EXPECT_LT(written, 400);
  const auto m = messages(app);
  EXPECT_EQ(std::count_if(
                m.begin(), m.end(),
                [](const std::string& s) { return starts_with(s, "Conversion stopped after "); }),
            1);
  // The files never reached are counted as not converted.
  EXPECT_TRUE(
      starts_with(m.back(), std::to_string(400 - written) + " of 400 files were not converted"))
      << m.back();
}

// Named roots (files and folders from a command line): each folder searched, each file taken
// when the filter accepts it (hidden or not), a file reached twice taken once, and nothing
// outside the roots touched.
TEST(JobRoots, NamedFilesAndFoldersOnce) {
  TempDir tmp;
  const std::string gbk = "\xD6\xD0\xCE\xC4\n";
  for (const char* f : {"a.c", ".hidden.c", "dir/b.c", "dir/.h/c.c", "dir/n.txt", "other/d.c"})
    write_file(tmp / "in/" + f, gbk);
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  plan.filter = "*.c";
  plan.roots = {"a.c", "dir", ".hidden.c", "dir/b.c", "a.c", "dir/n.txt"};
  const JobReport r = run_job(plan);
  std::vector<std::string> paths;
  for (const FileReport& f : r.files) paths.push_back(f.path);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{".hidden.c", "a.c", "dir/b.c"}));
  EXPECT_EQ(read_file(tmp / "out/dir/b.c"), "中文\n");
  EXPECT_FALSE(file_exists(tmp / "out/other/d.c"));
  EXPECT_FALSE(file_exists(tmp / "out/dir/n.txt"));
}

// In place with named paths, a link is written through only to a file among those named: the
// folder they share holds files the user did not name (ouzel-convert --in-place tree).
TEST(JobRoots, InPlaceLinksLeadOnlyIntoTheNamedPaths) {
  TempDir tmp;
  const std::string gbk = "\xD6\xD0\xCE\xC4\n";
  for (const char* f : {"tree/a.c", "beside/b.c", "beside/c.c", "named.c", "target.c"})
    write_file(tmp / "base/" + f, gbk);
  ASSERT_EQ(::symlink("../beside/b.c", (tmp / "base/tree/to_beside.c").c_str()), 0);
  ASSERT_EQ(::symlink("a.c", (tmp / "base/tree/to_inside.c").c_str()), 0);
  ASSERT_EQ(::symlink("target.c", (tmp / "base/link.c").c_str()), 0);
  ASSERT_EQ(::symlink("tree/a.c", (tmp / "base/into_tree.c").c_str()), 0);
  JobPlan plan = make_plan(tmp / "base", tmp / "base", "GBK", "UTF-8");
  plan.roots = {"tree", "named.c", "link.c", "into_tree.c"};
  const JobReport r = run_job(plan);
  const std::vector<std::pair<const char*, Outcome>> want = {{"tree/to_beside.c", Outcome::outside},
                                                             {"link.c", Outcome::outside},
                                                             {"named.c", Outcome::converted}};
  for (const auto& [path, outcome] : want) {
    const FileReport* e = entry_for(r, path);
    ASSERT_NE(e, nullptr) << path;
    EXPECT_EQ(e->outcome, outcome) << path << ": " << outcome_name(e->outcome);
  }
  EXPECT_NE(entry_for(r, "tree/to_beside.c")->note.find("outside the paths named"),
            std::string::npos);
  EXPECT_EQ(read_file(tmp / "base/beside/b.c"), gbk);
  EXPECT_EQ(read_file(tmp / "base/target.c"), gbk);
  EXPECT_EQ(read_file(tmp / "base/named.c"), "中文\n");
  EXPECT_EQ(read_file(tmp / "base/tree/a.c"), "中文\n");  // once, through any of its names
  EXPECT_EQ(read_file(tmp / "base/beside/c.c"), gbk);
}
