// A whole file converted and written piece by piece: the same bytes as one conversion, nothing
// rewritten in place when nothing changes, and a failure in a later piece loses nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "job/job.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// Whole files (under the default limit) made in pieces of `piece` bytes.
JobPlan in_pieces(const std::string& in, const std::string& out, const char* from, const char* to,
                  size_t piece) {
  JobPlan plan = make_plan(in, out, from, to);
  plan.options.stream_chunk = piece;
  return plan;
}

ino_t inode_of(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

namespace fake {
int writes = 0;
ssize_t write_fails_second(int fd, const void* data, size_t size) {
  if (++writes == 2) {
    errno = ENOSPC;
    return -1;
  }
  return platform::real_sysio().write(fd, data, size);
}
}  // namespace fake

class Pieces : public ::testing::TestWithParam<size_t> {};

// Sequences, marks and shift states cut at every piece boundary come out as the iconv command
// makes them of the whole file.
TEST_P(Pieces, SameAsIconvCommand) {
  TempDir tmp;
  const std::string text = mixed_text(400, true, false);
  write_file(tmp / "in/g.txt", encode_as(text, "GB18030"));
  run_job(in_pieces(tmp / "in", tmp / "out", "GB18030", "UTF-8 with BOM", GetParam()));
  EXPECT_EQ(read_file(tmp / "out/g.txt"), "\xEF\xBB\xBF" + text);
  const std::string japanese = encode_as(mixed_text(200, false, false), "CP932");
  write_file(tmp / "jin/j.txt", japanese);
  run_job(in_pieces(tmp / "jin", tmp / "jout", "CP932", "ISO-2022-JP", GetParam()));
  EXPECT_EQ(read_file(tmp / "jout/j.txt"), iconv_command(japanese, "CP932", "ISO-2022-JP"));
}

// In place, a conversion that changes no byte rewrites nothing, however many pieces it takes;
// one whose first change comes pieces later is written whole.
TEST_P(Pieces, InPlaceRewritesOnlyWhatChanges) {
  TempDir tmp;
  const std::string gbk = encode_as(mixed_text(300, false, false), "GBK");
  ASSERT_EQ(iconv_command(gbk, "GBK", "GB18030"), gbk);  // GBK text reads the same in GB18030
  write_file(tmp / "in/same.txt", gbk);
  const ino_t before = inode_of(tmp / "in/same.txt");
  const JobReport r = run_job(in_pieces(tmp / "in", tmp / "in", "GBK", "GB18030", GetParam()));
  EXPECT_EQ(entry_for(r, "same.txt")->outcome, Outcome::converted);
  EXPECT_TRUE(entry_for(r, "same.txt")->unchanged);
  EXPECT_EQ(inode_of(tmp / "in/same.txt"), before);

  const std::string late = std::string(100, 'a') + gbk;
  write_file(tmp / "late/l.txt", late);
  run_job(in_pieces(tmp / "late", tmp / "late", "GBK", "UTF-8", GetParam()));
  EXPECT_EQ(read_file(tmp / "late/l.txt"), iconv_command(late, "GBK", "UTF-8"));
}

// An invalid sequence pieces into the file: what was already written is dropped, the content is
// written exactly as read, and the report names the byte where conversion stopped.
TEST_P(Pieces, LateInvalidSequenceWrittenAsRead) {
  TempDir tmp;
  const std::string good = encode_as(mixed_text(100, false, false), "GBK");
  const std::string content = good + "xy\xFF\xFF" + good;
  write_file(tmp / "in/bad.txt", content);
  const JobReport r = run_job(in_pieces(tmp / "in", tmp / "out", "GBK", "UTF-8", GetParam()));
  const FileReport* f = entry_for(r, "bad.txt");
  EXPECT_EQ(f->outcome, Outcome::cannot_convert);
  ASSERT_TRUE(f->stop.has_value());
  EXPECT_EQ(f->stop->offset, good.size() + 2);
  EXPECT_EQ(read_file(tmp / "out/bad.txt"), content);
  EXPECT_EQ(list_dir(tmp / "out"), std::vector<std::string>{"bad.txt"});
}

INSTANTIATE_TEST_SUITE_P(PieceSizes, Pieces, ::testing::Values(4, 5, 7, 64, 4096));

// A full disk after the first piece: no temporary file, an older target kept whole.
TEST(PiecesFailure, DiskFullAfterFirstPieceLosesNothing) {
  TempDir tmp;
  const std::string gbk = encode_as(mixed_text(100, false, false), "GBK");
  write_file(tmp / "in/t.txt", gbk);
  write_file(tmp / "out/t.txt", "previous");
  platform::ScopedSysIo scope;
  platform::sysio().write = fake::write_fails_second;
  fake::writes = 0;
  const JobReport r = run_job(in_pieces(tmp / "in", tmp / "out", "GBK", "UTF-8", 16));
  EXPECT_EQ(entry_for(r, "t.txt")->outcome, Outcome::cannot_write);
  EXPECT_EQ(entry_for(r, "t.txt")->error, ENOSPC);
  EXPECT_EQ(list_dir(tmp / "out"), std::vector<std::string>{"t.txt"});
  EXPECT_EQ(read_file(tmp / "out/t.txt"), "previous");
}

}  // namespace
