// The job at scale and under failure: several threads give what one gives, files streamed in
// chunks give what whole files give, a stopped or killed run's leftovers, links in the output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "job/job.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::string kGbkLine = "\xD6\xD0\xCE\xC4\xB1\xE0\xC2\xEB abc\n";  // 中文编码 abc

// Thousands of files in nested folders, in several kinds, so threads meet every path.
void make_many(const std::string& root, int count) {
  const std::string gbk = encode_as(chinese_text(1500), "GBK");
  for (int i = 0; i < count; ++i) {
    const std::string dir = root + "/d" + std::to_string(i % 13) + "/e" + std::to_string(i % 7);
    const std::string n = std::to_string(i);
    switch (i % 5) {
      case 0:
        write_file(dir + "/u" + n + ".txt", chinese_text(300 + i % 700));
        break;
      case 1:
        write_file(dir + "/a" + n + ".h", "int x" + n + ";\n");
        break;
      case 2:
        write_file(dir + "/b" + n + ".bin", binary_sample(100 + i % 50));
        break;
      default:
        write_file(dir + "/g" + n + ".cpp", gbk.substr(0, gbk.find('\n', 200 + i % 900) + 1));
    }
  }
}

std::string tree_listing(const std::string& root) {
  std::string out;
  for (const std::string& rel : list_tree(root)) out += rel + "\n" + read_file(root + "/" + rel);
  return out;
}

JobPlan streaming(const std::string& in, const std::string& out, const char* from, const char* to,
                  size_t chunk) {
  JobPlan plan = make_plan(in, out, from, to);
  plan.options.whole_file_limit = 0;  // every file in chunks
  plan.options.stream_chunk = chunk;
  return plan;
}

}  // namespace

// Threads: two and four threads over 3,000 files write exactly what one thread writes, and
// report the same outcomes in the search's order.
TEST(EngineScale, ThreadsGiveWhatOneThreadGives) {
  TempDir tmp;
  make_many(tmp / "in", 3000);
  JobPlan one = make_plan(tmp / "in", tmp / "one", "GBK", "UTF-8");
  const JobReport r1 = run_job(one);
  for (unsigned threads : {2u, 4u}) {
    JobPlan many = make_plan(tmp / "in", tmp / ("many" + std::to_string(threads)), "GBK", "UTF-8");
    many.options.threads = threads;
    JobRecorder rec;
    const JobReport rn = run_job(many, &rec);
    EXPECT_EQ(report_csv(rn), report_csv(r1)) << threads;
    EXPECT_EQ(tree_listing(tmp / ("many" + std::to_string(threads))), tree_listing(tmp / "one"));
    EXPECT_EQ(rec.last.files_done, 3000u);
    ASSERT_EQ(rec.file_lines.size(), 3000u);
    for (const auto& lines : rec.file_lines) EXPECT_EQ(lines[0].rfind("Processing file: ", 0), 0u);
  }
}

// Stop with several threads: the files in progress are finished whole, the rest are named
// "not reached", and nothing is left half written or temporary.
TEST(EngineScale, StopWithThreads) {
  TempDir tmp;
  make_many(tmp / "in", 2000);
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  plan.options.threads = 3;
  ConvertJob job(plan);
  struct Stopper : JobRecorder {
    ConvertJob* job = nullptr;
    void file_done(size_t i, const FileReport& r, const std::vector<std::string>& l,
                   const JobProgress& p) override {
      JobRecorder::file_done(i, r, l, p);
      if (p.files_done == 300) job->request_stop();
    }
  } rec;
  rec.job = &job;
  const JobReport r = job.run(rec);
  EXPECT_TRUE(r.stopped);
  const auto reached = std::count_if(r.files.begin(), r.files.end(), [](const FileReport& f) {
    return f.outcome != Outcome::not_reached;
  });
  EXPECT_GE(reached, 300);
  EXPECT_LT(reached, 2000);
  for (const auto& f : r.files) {
    const bool written = file_exists(tmp / ("out/" + f.path));
    EXPECT_EQ(written, f.outcome != Outcome::not_reached) << f.path;
  }
  for (const std::string& rel : list_tree(tmp / "out"))
    EXPECT_EQ(rel.find(".ouzel-"), std::string::npos) << rel;
}

class StreamedFile : public ::testing::TestWithParam<size_t> {};

// A file converted in chunks, with multibyte sequences cut at every chunk boundary, is
// byte-identical to the iconv command; a mark and a stateful target cross chunks too.
TEST_P(StreamedFile, MatchesIconvAtEveryCut) {
  const size_t chunk = GetParam();
  TempDir tmp;
  const std::string text = mixed_text(400, true, false);
  write_file(tmp / "in/g.txt", encode_as(text, "GB18030"));
  write_file(tmp / "in/u.txt", "\xEF\xBB\xBF" + text);
  run_job(streaming(tmp / "in", tmp / "out", "GB18030", "UTF-8 with BOM", chunk));
  EXPECT_EQ(read_file(tmp / "out/g.txt"), "\xEF\xBB\xBF" + text);
  EXPECT_EQ(read_file(tmp / "out/u.txt"), "\xEF\xBB\xBF" + text);  // already UTF-8, one mark
  const std::string japanese = mixed_text(200, false, false);
  write_file(tmp / "jin/j.txt", encode_as(japanese, "CP932"));
  run_job(streaming(tmp / "jin", tmp / "jout", "CP932", "ISO-2022-JP", chunk));
  EXPECT_EQ(read_file(tmp / "jout/j.txt"),
            iconv_command(encode_as(japanese, "CP932"), "CP932", "ISO-2022-JP"));
}

// UTF-8 text read in chunks whose ends cut its sequences is still UTF-8: it keeps its bytes,
// never converted again as Latin-1 (which would accept every byte and encode it twice), also
// in place.
TEST_P(StreamedFile, Utf8CutAtChunkEndsStaysUtf8) {
  TempDir tmp;
  const std::string text = std::string(70000, 'a') + mixed_text(400, true, false);
  write_file(tmp / "in/u.txt", text);
  const JobReport r =
      run_job(streaming(tmp / "in", tmp / "out", "ISO-8859-1", "UTF-8", GetParam()));
  EXPECT_EQ(entry_for(r, "u.txt")->outcome, Outcome::already_utf8);
  EXPECT_EQ(read_file(tmp / "out/u.txt"), text);
  run_job(streaming(tmp / "in", tmp / "in", "ISO-8859-1", "UTF-8", GetParam()));
  EXPECT_EQ(read_file(tmp / "in/u.txt"), text);
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, StreamedFile, ::testing::Values(4, 5, 7, 64, 4096));

// An invalid sequence in the third chunk: the file is written exactly as read, and the report
// names the byte, line and column where conversion stopped.
TEST(EngineScale, StreamedInvalidSequenceWrittenAsRead) {
  TempDir tmp;
  const std::string good = encode_as("abc\n\xE4\xB8\xAD\xE6\x96\x87\n", "GBK");  // 9 bytes
  const std::string content = good + good + "xy\xFF\xFF" + good;
  write_file(tmp / "in/bad.txt", content);
  const JobReport r = run_job(streaming(tmp / "in", tmp / "out", "GBK", "UTF-8", 8));
  const FileReport* f = entry_for(r, "bad.txt");
  EXPECT_EQ(f->outcome, Outcome::cannot_convert);
  ASSERT_TRUE(f->stop.has_value());
  EXPECT_EQ(f->stop->offset, 2 * good.size() + 2);
  EXPECT_EQ(f->stop->line, 5u);
  EXPECT_EQ(f->stop->column, 3u);
  EXPECT_EQ(read_file(tmp / "out/bad.txt"), content);
}

// A full disk in the middle of a streamed file: no temporary file, no truncated target, an
// existing target kept whole.
TEST(EngineScale, StreamedWriteFailureLeavesNothing) {
  TempDir tmp;
  write_file(tmp / "in/new.txt", kGbkLine + kGbkLine + kGbkLine);
  write_file(tmp / "in/old.txt", kGbkLine + kGbkLine + kGbkLine);
  write_file(tmp / "out/old.txt", "previous");
  platform::ScopedSysIo scope;
  platform::sysio().write = [](int, const void*, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  const JobReport r = run_job(streaming(tmp / "in", tmp / "out", "GBK", "UTF-8", 5));
  EXPECT_EQ(entry_for(r, "new.txt")->outcome, Outcome::cannot_write);
  EXPECT_EQ(entry_for(r, "new.txt")->error, ENOSPC);
  EXPECT_EQ(list_dir(tmp / "out"), std::vector<std::string>{"old.txt"});
  EXPECT_EQ(read_file(tmp / "out/old.txt"), "previous");
}

// What a killed run left beside its targets is removed by the next run and mentioned once.
TEST(EngineScale, NextRunRemovesLeftovers) {
  TempDir tmp;
  write_file(tmp / "in/sub/a.cpp", kGbkLine);
  write_file(tmp / "out/sub/.a.cpp.ouzel-Ab12Cd", "half a file");
  write_file(tmp / "out/sub/.keep.ouzel-notmine", "a user's file");
  JobRecorder rec;
  run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"), &rec);
  EXPECT_FALSE(file_exists(tmp / "out/sub/.a.cpp.ouzel-Ab12Cd"));
  EXPECT_TRUE(file_exists(tmp / "out/sub/.keep.ouzel-notmine"));
  EXPECT_EQ(std::count_if(rec.messages.begin(), rec.messages.end(),
                          [](const std::string& m) {
                            return m.rfind("Removed 1 temporary file a stopped run left in ", 0) ==
                                   0;
                          }),
            1);
}

// In a separate output tree a link left at a target is replaced, never written through, and
// a link among the output's folders stops the files below it.
TEST(EngineScale, LinksInOutputTreeAreNotFollowed) {
  TempDir tmp;
  write_file(tmp / "in/a.cpp", kGbkLine);
  write_file(tmp / "in/d/b.cpp", kGbkLine);
  write_file(tmp / "elsewhere/a.cpp", "not to be touched");
  ASSERT_EQ(::mkdir((tmp / "out").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((tmp / "elsewhere/a.cpp").c_str(), (tmp / "out/a.cpp").c_str()), 0);
  ASSERT_EQ(::symlink((tmp / "elsewhere").c_str(), (tmp / "out/d").c_str()), 0);
  const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"));
  EXPECT_EQ(read_file(tmp / "elsewhere/a.cpp"), "not to be touched");
  struct stat st;
  ASSERT_EQ(::lstat((tmp / "out/a.cpp").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(entry_for(r, "d/b.cpp")->outcome, Outcome::cannot_write);
  EXPECT_EQ(entry_for(r, "d/b.cpp")->error, ELOOP);
  EXPECT_FALSE(file_exists(tmp / "elsewhere/b.cpp"));
}
