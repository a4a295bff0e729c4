// Byte-order marks: kept from the source, added or removed, whole and streamed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/test_support.h"
#include "transcode/marks.h"

using namespace testing_support;

namespace {

const std::string kText = "// 中文\nint a;\n";

// The sources: a mark of their own or none, in three encodings.
struct Source {
  const char* file;
  const char* from;
  std::string bytes;
  bool marked;
};

// A mark repeated (marked text marked again) counts as one: its text never starts with U+FEFF.
std::vector<Source> sources() {
  const std::string u16 = encode_as(kText, "UTF-16LE");
  return {{"u8bom.txt", "UTF-8", "\xEF\xBB\xBF" + kText, true},
          {"u8bom2.txt", "UTF-8", "\xEF\xBB\xBF\xEF\xBB\xBF" + kText, true},
          {"u8.txt", "UTF-8", kText, false},
          {"u16.txt", "UTF-16LE", "\xFF\xFE" + u16, true},
          {"u16bom3.txt", "UTF-16LE", "\xFF\xFE\xFF\xFE\xFF\xFE" + u16, true},
          {"u16self2.txt", "UTF-16", "\xFF\xFE\xFF\xFE" + u16, true},
          {"gbk.txt", "GBK", encode_as(kText, "GBK"), false}};
}

std::string mark_of(const std::string& target) {
  if (target == "UTF-8") return "\xEF\xBB\xBF";
  if (target == "UTF-16LE") return "\xFF\xFE";
  if (target == "UTF-32BE") return std::string("\0\0\xFE\xFF", 4);
  return "";
}

class MarkJob : public ::testing::TestWithParam<bool> {};

JobPlan mark_plan(const std::string& in, const std::string& out, const char* from, const char* to,
                  BomMode bom, bool streamed) {
  JobPlan plan = make_plan(in, out, from, to);
  plan.options.bom = bom;
  if (streamed) {
    plan.options.whole_file_limit = 8;
    plan.options.stream_chunk = 5;
  }
  return plan;
}

ino_t inode_of(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

}  // namespace

// Every source into UTF-8, UTF-16LE, UTF-32BE and a legacy target under each mode: the mark
// is there exactly when added, or kept from a source that had one; never on a legacy target.
TEST_P(MarkJob, KeptAddedRemoved) {
  for (const Source& s : sources()) {
    for (const char* target : {"UTF-8", "UTF-16LE", "UTF-32BE", "BIG5"}) {
      for (BomMode mode : {BomMode::keep, BomMode::add, BomMode::remove}) {
        SCOPED_TRACE(std::string(s.file) + " to " + target + " " + bom_mode_name(mode));
        TempDir tmp;
        write_file(tmp / "in/" + s.file, s.bytes);
        const JobReport r =
            run_job(mark_plan(tmp / "in", tmp / "out", s.from, target, mode, GetParam()));
        ASSERT_EQ(r.files.size(), 1u);
        const bool want_mark = mode == BomMode::add || (mode == BomMode::keep && s.marked);
        const std::string want =
            (want_mark ? mark_of(target) : std::string()) + encode_as(kText, target);
        EXPECT_EQ(read_file(tmp / "out/" + s.file), want);
        // The report says the mark before and after for every UTF target.
        const bool utf = std::string(target) != "BIG5";
        EXPECT_EQ(mark_change_text(r.files[0]), !utf ? (s.marked ? "BOM -> none" : "none")
                                                : s.marked == want_mark
                                                    ? (want_mark ? "BOM" : "none")
                                                    : (want_mark ? "none -> BOM" : "BOM -> none"));
      }
    }
  }
}

// "UTF-8 with BOM" adds a mark whatever the mode; in place a marked UTF-8 file whose mark is
// kept is not rewritten, and one whose mark is removed is.
TEST_P(MarkJob, WithBomTargetAndInPlace) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", kText);
  run_job(
      mark_plan(tmp / "in", tmp / "out", "UTF-8", "UTF-8 with BOM", BomMode::remove, GetParam()));
  EXPECT_EQ(read_file(tmp / "out/a.txt"), "\xEF\xBB\xBF" + kText);

  write_file(tmp / "t/kept.txt", "\xEF\xBB\xBF" + kText);
  const ino_t before = inode_of(tmp / "t/kept.txt");
  const JobReport r =
      run_job(mark_plan(tmp / "t", tmp / "t", "UTF-8", "UTF-8", BomMode::keep, GetParam()));
  EXPECT_EQ(inode_of(tmp / "t/kept.txt"), before);
  ASSERT_NE(entry_for(r, "kept.txt"), nullptr);
  EXPECT_TRUE(entry_for(r, "kept.txt")->unchanged);
  run_job(mark_plan(tmp / "t", tmp / "t", "UTF-8", "UTF-8", BomMode::remove, GetParam()));
  EXPECT_EQ(read_file(tmp / "t/kept.txt"), kText);
}

INSTANTIATE_TEST_SUITE_P(WholeAndStreamed, MarkJob, ::testing::Bool(), [](const auto& param_info) {
  return param_info.param ? "streamed" : "whole";
});

TEST(Marks, ModeNames) {
  BomMode m = BomMode::remove;
  EXPECT_TRUE(parse_bom_mode("Add", m));
  EXPECT_EQ(m, BomMode::add);
  EXPECT_FALSE(parse_bom_mode("yes", m));
  EXPECT_EQ(m, BomMode::add);
  EXPECT_EQ(target_mark(UnicodeForm::utf16, BomMode::add, true), "");
}
