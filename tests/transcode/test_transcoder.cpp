// Transcoding one file: results byte-identical to the iconv command across encodings and
// marks, buffer growth, failures that never write a mix, safe writes, directories.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <tuple>

#include "job/output_dirs.h"
#include "platform/fs.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"
#include "transcode/stream_convert.h"

using namespace testing_support;

namespace {

const std::string kBom = "\xEF\xBB\xBF";
// Code points outside the BMP: four bytes in UTF-8, a surrogate pair in UTF-16.
const std::string kAstral = "\xF0\x9F\x98\x80 \xF0\xA0\x80\x80\n";

// One file at a time through the job, as "Start Convert" after a preview runs it: exactly the
// files named, no search.
struct Converter {
  TempDir tmp;
  JobPlan plan;

  Converter(const std::string& from, const std::string& to, bool bom = false)
      : plan(make_plan(tmp / "in", tmp / "out", from.c_str(), to.c_str())) {
    plan.target.utf8_mark = bom;  // with a legacy target too: the mark must never reach it
  }
  FileReport convert(const std::string& rel, const std::string& name) {
    PlannedFile file;
    file.relative_dir = rel;
    file.file_name = name;
    plan.files = std::vector<PlannedFile>{file};
    const JobReport report = run_job(plan);
    EXPECT_EQ(report.files.size(), 1u);
    return report.files.empty() ? FileReport{} : report.files[0];
  }
  FileReport run(const std::string& content, const std::string& rel = "",
                 const std::string& name = "f.txt") {
    write_file(tmp / ("in/" + (rel.empty() ? "" : rel + "/") + name), content);
    return convert(rel, name);
  }
  std::string out(const std::string& rel_path = "f.txt") {
    return read_file(tmp / ("out/" + rel_path));
  }
};

// In-process reference: one iconv call into a buffer big enough for anything.
std::string reference(const std::string& in, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  std::string out(in.size() * 4 + 64, '\0');
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1));
  iconv(cd, nullptr, nullptr, &op, &ol);
  iconv_close(cd);
  out.resize(out.size() - ol);
  return out;
}

// ---- Encoding x mark matrix --------------------------------------------------------------

using Case = std::tuple<const char*, bool>;  // the legacy/Unicode encoding, mark on UTF-8 side
class EncodingMatrix : public ::testing::TestWithParam<Case> {};

std::string sample_for(const std::string& enc) {
  std::string text = chinese_text(20000);
  if (enc.rfind("UTF", 0) == 0 || enc == "GB18030") text += kAstral;
  return text;
}

// Into UTF-8: the result is what the iconv command makes, with one mark when asked.
TEST_P(EncodingMatrix, ToUtf8MatchesIconvCommand) {
  const auto [enc, bom] = GetParam();
  bool ok = false;
  const std::string source = iconv_command(sample_for(enc), "UTF-8", enc, &ok);
  ASSERT_TRUE(ok);
  Converter c(enc, "UTF-8", bom);
  EXPECT_EQ(c.run(source).outcome, Outcome::converted);
  EXPECT_EQ(c.out(), (bom ? kBom : "") + iconv_command(source, enc, "UTF-8"));
}

// From UTF-8: a mark in the source is dropped, never converted into the target.
TEST_P(EncodingMatrix, FromUtf8DropsMarkAndMatchesIconvCommand) {
  const auto [enc, bom] = GetParam();
  const std::string text = sample_for(enc);
  Converter c("UTF-8", enc);
  EXPECT_EQ(c.run((bom ? kBom : "") + text).outcome, Outcome::converted);
  EXPECT_EQ(c.out(), iconv_command(text, "UTF-8", enc));
}

INSTANTIATE_TEST_SUITE_P(Encodings, EncodingMatrix,
                         ::testing::Combine(::testing::Values("GBK", "GB18030", "UTF-16LE",
                                                              "UTF-16BE", "UTF-32LE"),
                                            ::testing::Bool()));

// ---- Buffer growth -----------------------------------------------------------------------

// Outputs several times the input size (single byte -> UTF-32) grow the buffer repeatedly.
TEST(ConvertBuffer, GrowsForWideTargets) {
  const std::string in(3 * 1024 * 1024 + 7, 'x');
  std::string out = kBom;
  StreamConverter conv("CP1252", "UTF-32LE");
  ASSERT_TRUE(conv.feed(in.data(), in.size(), out) && conv.finish(out));
  EXPECT_EQ(out, kBom + reference(in, "CP1252", "UTF-32LE"));
}

// A multibyte sequence cut by the end of the buffer is finished after the growth.
TEST(ConvertBuffer, SequenceStraddlingGrowthBoundary) {
  for (size_t n = 0; n < 300; ++n) {
    const std::string in = std::string(n, 'a') + "\xE4\xB8\xAD" + kAstral;
    std::string out;
    StreamConverter conv("UTF-8", "UTF-16LE");
    ASSERT_TRUE(conv.feed(in.data(), in.size(), out) && conv.finish(out)) << n;
    ASSERT_EQ(out, reference(in, "UTF-8", "UTF-16LE")) << n;
  }
}

// A stateful target ends in its initial shift state, as the iconv command writes it.
TEST(ConvertFile, StatefulTargetIsClosed) {
  const std::string text = "abc \xE6\x97\xA5\xE6\x9C\xAC";  // ends inside a Kanji shift
  Converter c("UTF-8", "ISO-2022-JP");
  EXPECT_EQ(c.run(text).outcome, Outcome::converted);
  bool ok = false;
  EXPECT_EQ(c.out(), iconv_command(text, "UTF-8", "ISO-2022-JP", &ok));
  EXPECT_TRUE(ok);
}

// An empty input appends nothing and never opens a converter.
TEST(ConvertBuffer, EmptyInputAppendsNothing) {
  std::string out = kBom;
  StreamConverter conv("NO-SUCH", "UTF-8");
  EXPECT_TRUE(conv.feed("", 0, out) && conv.finish(out));
  EXPECT_EQ(out, kBom);
}

// ---- Content that cannot be converted ----------------------------------------------------

// Invalid or truncated input: the target gets the content as read, nothing mixed, no mark.
TEST(ConvertFile, InvalidInputIsCopiedUnchanged) {
  struct {
    std::string content;
    uint64_t offset;
  } cases[] = {
      {"\xFF rest", 0},                                          // invalid at the first byte
      {std::string(5000, 'a') + "\xE4\xB8\xAD\xFF tail", 5003},  // invalid after output
      {"abc\xE4\xB8", 3},                                        // cut at the end
      {kBom + "ok\xC3", 5},                                      // offset counts the mark
  };
  for (const auto& tc : cases) {
    Converter c("UTF-8", "GBK", /*bom=*/true);
    const FileReport r = c.run(tc.content);
    EXPECT_EQ(r.outcome, Outcome::cannot_convert);
    ASSERT_TRUE(r.stop.has_value());
    EXPECT_EQ(r.stop->offset, tc.offset);
    EXPECT_EQ(c.out(), tc.content);
  }
}

// A pair the converter does not know: copied unchanged, even with a mark asked for.
TEST(ConvertFile, UnknownEncodingIsCopiedUnchanged) {
  Converter c("NO-SUCH-CHARSET", "UTF-8", /*bom=*/true);
  EXPECT_EQ(c.run("\xD6\xD0").outcome, Outcome::not_supported);
  EXPECT_EQ(c.out(), "\xD6\xD0");
}

// Marks: a source's own mark is dropped even when nothing follows it; an empty file gets
// just the prefix; one mark at most; a UTF-8 mark on a legacy source is never read as text.
TEST(ConvertFile, MarkEdgeCases) {
  {
    Converter c("UTF-8", "GBK");
    EXPECT_EQ(c.run(kBom).outcome, Outcome::ascii);
    EXPECT_EQ(c.out(), "");  // a mark in front of GBK text would be garbage
  }
  {
    Converter c("UTF-8", "UTF-8", true);
    c.run("");
    EXPECT_EQ(c.out(), kBom);
  }
  {
    Converter c("UTF-8", "UTF-8", true);
    c.run(kBom + "x");
    EXPECT_EQ(c.out(), kBom + "x");
  }
  {
    Converter c("CP1252", "UTF-8");  // the mark says UTF-8: never turned into "ï»¿"
    EXPECT_EQ(c.run(kBom).outcome, Outcome::marked);
    EXPECT_EQ(c.out(), kBom);
  }
}

// ---- Reading and writing -----------------------------------------------------------------

// A source that cannot be read writes nothing, and an existing target survives.
TEST(ConvertFile, UnreadableSourceWritesNothing) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  Converter c("GBK", "UTF-8");
  write_file(c.tmp / "out/f.txt", "keep");
  write_file(c.tmp / "in/f.txt", "\xD6\xD0");
  ::chmod((c.tmp / "in/f.txt").c_str(), 0);
  const FileReport r = c.convert("", "f.txt");
  EXPECT_EQ(r.outcome, Outcome::cannot_read);
  EXPECT_EQ(r.error, EACCES);
  EXPECT_EQ(c.out(), "keep");
}

// A source that opens but cannot be read (a directory put in the file's place) writes nothing.
TEST(ConvertFile, SourceFailingAtReadWritesNothing) {
  Converter c("GBK", "UTF-8");
  write_file(c.tmp / "out/f.txt", "keep");
  ASSERT_EQ(::mkdir((c.tmp / "in").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((c.tmp / "in/f.txt").c_str(), 0755), 0);
  EXPECT_EQ(c.convert("", "f.txt").outcome, Outcome::cannot_read);
  EXPECT_EQ(c.out(), "keep");
}

// A FIFO put in a file's place after the search fails at once instead of blocking the job.
TEST(ConvertFile, FifoInPlaceOfSourceDoesNotBlock) {
  Converter c("GBK", "UTF-8");
  ASSERT_EQ(::mkdir((c.tmp / "in").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((c.tmp / "in/f.txt").c_str(), 0644), 0);
  EXPECT_EQ(c.convert("", "f.txt").outcome, Outcome::cannot_read);
  EXPECT_FALSE(file_exists(c.tmp / "out/f.txt"));
}

// A missing source (removed after the search) is a read failure too.
TEST(ConvertFile, VanishedSourceIsReadFailure) {
  Converter c("GBK", "UTF-8");
  ASSERT_EQ(::mkdir((c.tmp / "in").c_str(), 0755), 0);
  const FileReport r = c.convert("", "gone.txt");
  EXPECT_EQ(r.outcome, Outcome::cannot_read);
  EXPECT_EQ(r.error, ENOENT);
  EXPECT_FALSE(file_exists(c.tmp / "out/gone.txt"));
}

// A read-only target is left unchanged and reported.
TEST(ConvertFile, ReadOnlyTargetIsKept) {
  Converter c("GBK", "UTF-8");
  write_file(c.tmp / "out/f.txt", "old");
  ::chmod((c.tmp / "out/f.txt").c_str(), 0444);
  const FileReport r = c.run("\xD6\xD0");
  EXPECT_EQ(r.outcome, Outcome::cannot_write);
  EXPECT_EQ(c.out(), "old");
}

// An existing target whose name is as long as names may be is still replaced, not refused.
TEST(ConvertFile, LongNameTargetIsReplaced) {
  Converter c("GBK", "UTF-8");
  const std::string name = std::string(251, 'n') + ".txt";
  write_file(c.tmp / ("out/" + name), "old");
  EXPECT_EQ(c.run("\xD6\xD0", "", name).outcome, Outcome::converted);
  EXPECT_EQ(read_file(c.tmp / ("out/" + name)), "\xE4\xB8\xAD");
}

// Converting in place replaces the file and keeps its permission bits.
TEST(ConvertFile, InPlaceKeepsMode) {
  Converter c("GBK", "UTF-8");
  c.plan.output = c.plan.input;
  write_file(c.tmp / "in/f.txt", "\xD6\xD0");
  ::chmod((c.tmp / "in/f.txt").c_str(), 0640);
  EXPECT_EQ(c.convert("", "f.txt").outcome, Outcome::converted);
  EXPECT_EQ(read_file(c.tmp / "in/f.txt"), "\xE4\xB8\xAD");
  struct stat st;
  ASSERT_EQ(::stat((c.tmp / "in/f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Files below the root land at the same relative path, directories created on the way.
TEST(ConvertFile, MirrorsRelativePath) {
  Converter c("GBK", "UTF-8");
  EXPECT_EQ(c.run("\xD6\xD0", "a/b c", "x.h").outcome, Outcome::converted);
  EXPECT_EQ(c.out("a/b c/x.h"), "\xE4\xB8\xAD");
}

// ---- Failures injected through the I/O seam ----------------------------------------------

namespace fake {
int calls = 0;
size_t iconv_fails(iconv_t cd, char** in, size_t* il, char** out, size_t* ol) {
  if (in == nullptr) return platform::real_sysio().iconv(cd, in, il, out, ol);
  // Converts two bytes, then reports the given error.
  char* two_in = *in;
  size_t two = 2;
  platform::real_sysio().iconv(cd, &two_in, &two, out, ol);
  *il -= static_cast<size_t>(two_in - *in);
  *in = two_in;
  errno = calls;
  return static_cast<size_t>(-1);
}
size_t iconv_e2big_once(iconv_t cd, char** in, size_t* il, char** out, size_t* ol) {
  if (calls++ == 0) {
    errno = E2BIG;
    return static_cast<size_t>(-1);
  }
  return platform::real_sysio().iconv(cd, in, il, out, ol);
}
ssize_t write_enospc(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}
}  // namespace fake

// EILSEQ and EINVAL from iconv after some output: the content as read, with the offset.
TEST(ConvertSeam, IconvErrorsAfterOutputCopyUnchanged) {
  for (int err : {EILSEQ, EINVAL}) {
    platform::ScopedSysIo scope;
    platform::sysio().iconv = fake::iconv_fails;
    fake::calls = err;
    Converter c("CP1252", "UTF-8", true);
    const FileReport r = c.run(
        "abcd\xE9"
        "f");
    EXPECT_EQ(r.outcome, Outcome::cannot_convert);
    EXPECT_EQ(r.error, err);
    ASSERT_TRUE(r.stop.has_value());
    EXPECT_EQ(r.stop->offset, 2u);
    EXPECT_EQ(c.out(),
              "abcd\xE9"
              "f");
  }
}

// E2BIG with nothing produced is not a failure: the buffer grows and the call goes on.
TEST(ConvertSeam, E2bigGrowsAndContinues) {
  platform::ScopedSysIo scope;
  platform::sysio().iconv = fake::iconv_e2big_once;
  fake::calls = 0;
  Converter c("GBK", "UTF-8");
  EXPECT_EQ(c.run("\xD6\xD0").outcome, Outcome::converted);
  EXPECT_EQ(c.out(), "\xE4\xB8\xAD");
}

// A full disk: an existing target stays whole, a new one is not left behind truncated.
TEST(ConvertSeam, DiskFullLosesNothing) {
  platform::ScopedSysIo scope;
  platform::sysio().write = fake::write_enospc;
  Converter c("GBK", "UTF-8");
  write_file(c.tmp / "out/old.txt", "previous");
  EXPECT_EQ(c.run("\xD6\xD0", "", "old.txt").outcome, Outcome::cannot_write);
  EXPECT_EQ(c.out("old.txt"), "previous");
  const FileReport r = c.run("\xD6\xD0", "", "new.txt");
  EXPECT_EQ(r.outcome, Outcome::cannot_write);
  EXPECT_EQ(r.error, ENOSPC);
  EXPECT_FALSE(file_exists(c.tmp / "out/new.txt"));
}

// ---- Statistics and helpers --------------------------------------------------------------

// file_size is 64-bit: a sparse file beyond 4 GiB reports its whole size.
TEST(FileSize, SixtyFourBits) {
  TempDir tmp;
  write_file(tmp / "big", "");
  ASSERT_EQ(::truncate((tmp / "big").c_str(), (int64_t{5} << 30) + 3), 0);
  const int fd = ::open((tmp / "big").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::file_size(fd).value_or(-1), (int64_t{5} << 30) + 3);
  ::close(fd);
}

// make_directories splits at '/' only, passes over doubled and trailing separators.
TEST(MakeDirs, MixedAndTrailingSeparators) {
  TempDir tmp;
  EXPECT_TRUE(make_directories(tmp / "out//a\\b/c/"));
  EXPECT_TRUE(platform::is_directory(tmp / "out/a\\b/c"));
  EXPECT_FALSE(platform::is_directory(tmp / "out/a"));
}

// A first component that cannot be created stops the walk: nothing later is tried.
TEST(MakeDirs, StopsAtUncreatableComponent) {
  TempDir tmp;
  write_file(tmp / "file", "x");  // a file where a directory is needed
  const platform::Status made = make_directories(tmp / "file/sub/deeper");
  EXPECT_EQ(made.err(), ENOTDIR);
  EXPECT_EQ(made.error().message(),
            "make directory " + (tmp / "file") + ": " + errno_text(ENOTDIR));
  EXPECT_FALSE(platform::is_directory(tmp / "file/sub"));
  EXPECT_EQ(read_file(tmp / "file"), "x");
}

// The root the user named may be reached through a link; it is followed.
TEST(MakeDirs, RootThroughLinkFollowed) {
  TempDir tmp;
  ASSERT_TRUE(make_directories(tmp / "real"));
  ASSERT_EQ(::symlink((tmp / "real").c_str(), (tmp / "link").c_str()), 0);
  EXPECT_TRUE(make_directories(tmp / "link/a/b"));
  EXPECT_TRUE(platform::is_directory(tmp / "real/a/b"));
}

int mkdir_eacces(const char*, mode_t) {
  errno = EACCES;
  return -1;
}
// Only the folder: the targets' own checks go through the same table.
int lstat_eio(const char* path, struct stat* st) {
  const std::string p(path);
  if (p.size() < 4 || p.compare(p.size() - 4, 4, "/sub") != 0) return ::lstat(path, st);
  errno = EIO;
  return -1;
}

// A target directory that cannot be made or looked at fails its files with that errno and
// writes nothing; the job goes on with the others.
TEST(MakeDirs, FailuresReachTheReport) {
  const std::pair<void (*)(platform::SysIo&), int> faults[] = {
      {[](platform::SysIo& io) { io.mkdir = mkdir_eacces; }, EACCES},
      {[](platform::SysIo& io) { io.lstat = lstat_eio; }, EIO},
  };
  for (const auto& [inject, error] : faults) {
    TempDir tmp;
    write_file(tmp / "in/sub/a.txt", "abc");
    write_file(tmp / "in/b.txt", "abc");
    ASSERT_TRUE(make_directories(tmp / "out"));
    platform::ScopedSysIo scope;
    inject(platform::sysio());
    const JobReport r = run_job(make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8"));
    ASSERT_EQ(r.files.size(), 2u);
    for (const FileReport& f : r.files) {
      if (f.path == "b.txt") {
        EXPECT_EQ(f.outcome, Outcome::ascii);
      } else {
        EXPECT_EQ(f.outcome, Outcome::cannot_write) << error;
        EXPECT_EQ(f.error, error);
      }
    }
    EXPECT_EQ(list_tree(tmp / "out"), std::vector<std::string>{"b.txt"}) << error;
  }
}

}  // namespace
