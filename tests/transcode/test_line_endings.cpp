// Line endings: every kind into every code-unit width, cut at every boundary, and through jobs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "transcode/charset.h"
#include "transcode/line_endings.h"

using namespace testing_support;

namespace {

// A text, its line ends, and what it becomes under lf, crlf and cr (written out by hand).
struct EolCase {
  const char* name;
  std::string text;
  EolCounts counts;
  std::string as_lf;
  std::string as_crlf;
  std::string as_cr;  // only an .editorconfig asks for it
};

// Lines of every length up to three words, so a line end falls at each place in a word, two
// ends side by side and a word with no end at all.
EolCase long_lf_case() {
  EolCase c{"long lf", "", {0, 0, 0}, "", "", ""};
  for (size_t len = 0; len <= 24; ++len) {
    const std::string line =
        std::string(len % 7, 'x') + (len % 3 == 0 ? "中" : "") + std::string(len - len % 7, 'y');
    c.text += line + "\n";
    c.as_crlf += line + "\r\n";
    c.as_cr += line + "\r";
    ++c.counts.lf;
  }
  c.text += "tail";
  c.as_crlf += "tail";
  c.as_cr += "tail";
  c.as_lf = c.text;
  return c;
}

const std::vector<EolCase>& eol_cases() {
  static const std::vector<EolCase> cases = {
      {"lf", "a\n中文\n\n", {3, 0, 0}, "a\n中文\n\n", "a\r\n中文\r\n\r\n", "a\r中文\r\r"},
      {"crlf", "a\r\n中文\r\nz", {0, 2, 0}, "a\n中文\nz", "a\r\n中文\r\nz", "a\r中文\rz"},
      {"lone cr", "\r中\rb\r", {0, 0, 3}, "\n中\nb\n", "\r\n中\r\nb\r\n", "\r中\rb\r"},
      {"mixed",
       "a\r\nb\nc\r\r\nд\r",
       {1, 2, 2},
       "a\nb\nc\n\nд\n",
       "a\r\nb\r\nc\r\n\r\nд\r\n",
       "a\rb\rc\r\rд\r"},
      {"none", "中文 text", {0, 0, 0}, "中文 text", "中文 text", "中文 text"},
      long_lf_case(),
  };
  return cases;
}

// The targets: one-byte units, both UTF-16 and UTF-32 orders, the self-marking forms, legacy.
const char* const kTargets[] = {"UTF-8",  "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE",
                                "UTF-16", "UTF-32",   "GB18030",  "EUC-JP",   "ISO-2022-JP"};

std::string rewrite_split(EolMode mode, EolUnits units, const std::string& in, size_t cut,
                          EolCounts* before) {
  EolRewriter eol(mode, units);
  std::string out;
  eol.feed(std::string_view(in).substr(0, cut), out);
  eol.feed(std::string_view(in).substr(cut), out);
  eol.finish(out);
  *before = eol.before();
  return out;
}

std::string rewrite_bytewise(EolMode mode, EolUnits units, const std::string& in) {
  EolRewriter eol(mode, units);
  std::string out;
  for (char c : in) eol.feed(std::string_view(&c, 1), out);
  eol.finish(out);
  return out;
}

}  // namespace

// How each encoding writes CR and LF is probed from the converter.
TEST(LineEndings, UnitsOfEachEncoding) {
  const auto units = [](const char* name) { return charset_traits(name).eol_units; };
  EXPECT_EQ(units("UTF-8").width, 1u);
  EXPECT_EQ(units("GBK").width, 1u);
  EXPECT_EQ(units("UTF-16LE").width, 2u);
  EXPECT_FALSE(units("UTF-16LE").big_endian);
  EXPECT_TRUE(units("UTF-16BE").big_endian);
  EXPECT_EQ(units("UTF-32BE").width, 4u);
  EXPECT_TRUE(units("UTF-32BE").big_endian);
  EXPECT_EQ(units("UTF-16").width, 2u);
  EXPECT_EQ(units("IBM037").width, 0u);  // EBCDIC: LF is not 0x0A
}

// Every kind of line ends into every target, the stream cut at every byte (inside units and
// multibyte characters, between CR and LF) and fed a byte at a time: the same output and counts.
TEST(LineEndings, EveryKindIntoEveryTargetAtEveryCut) {
  for (const char* target : kTargets) {
    const EolUnits units = charset_traits(target).eol_units;
    for (const EolCase& c : eol_cases()) {
      const std::string in = encode_as(c.text, target);
      const struct {
        EolMode mode;
        std::string want;
      } modes[] = {{EolMode::keep, in},
                   {EolMode::lf, encode_as(c.as_lf, target)},
                   {EolMode::crlf, encode_as(c.as_crlf, target)},
                   {EolMode::cr, encode_as(c.as_cr, target)}};
      for (const auto& m : modes) {
        SCOPED_TRACE(std::string(target) + " " + c.name + " " + eol_mode_name(m.mode));
        for (size_t cut = 0; cut <= in.size(); ++cut) {
          EolCounts before;
          ASSERT_EQ(rewrite_split(m.mode, units, in, cut, &before), m.want) << "cut " << cut;
          ASSERT_EQ(before, c.counts) << "cut " << cut;
        }
        EXPECT_EQ(rewrite_bytewise(m.mode, units, in), m.want);
      }
    }
  }
}

// What is written is counted as the mode says; a stream already in the mode is not changed.
TEST(LineEndings, CountsAfterAndChanged) {
  EolRewriter to_lf(EolMode::lf, {1, false});
  std::string out;
  to_lf.feed("a\r\nb\rc\n", out);
  to_lf.finish(out);
  EXPECT_EQ(to_lf.after(), (EolCounts{3, 0, 0}));
  EXPECT_TRUE(to_lf.changed());
  EolRewriter already(EolMode::crlf, {2, true});
  out.clear();
  already.feed(encode_as("x\r\ny\r\n", "UTF-16BE"), out);
  already.finish(out);
  EXPECT_FALSE(already.changed());
  EXPECT_EQ(out, encode_as("x\r\ny\r\n", "UTF-16BE"));
  EXPECT_EQ(eol_counts_text({0, 0, 0}), "none");
  EXPECT_EQ(eol_counts_text({0, 4, 0}), "CRLF 4");
  EXPECT_EQ(eol_counts_text({2, 1, 1}), "mixed (LF 2, CRLF 1, CR 1)");
  EolMode m = EolMode::keep;
  EXPECT_TRUE(parse_eol_mode("CRLF", m));
  EXPECT_EQ(m, EolMode::crlf);
  EXPECT_FALSE(parse_eol_mode("cr", m));
  EXPECT_EQ(m, EolMode::crlf);
}

namespace {

JobPlan eol_plan(const std::string& in, const std::string& out, const char* from, const char* to,
                 EolMode eol, bool streamed) {
  JobPlan plan = make_plan(in, out, from, to);
  plan.options.eol = eol;
  if (streamed) {
    plan.options.whole_file_limit = 16;  // every file here is streamed in 7-byte chunks
    plan.options.stream_chunk = 7;
  }
  return plan;
}

ino_t inode_of(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

class EolJob : public ::testing::TestWithParam<bool> {};

}  // namespace

// A CRLF GBK tree into UTF-8 with LF and into UTF-16LE with CRLF, whole and streamed: the
// outputs byte for byte, the counts before and after in the report.
TEST_P(EolJob, ConvertsAndCounts) {
  TempDir tmp;
  const std::string text = "// 注释\r\nint a;\r\n/* 中文 */\r\n";
  write_file(tmp / "in/a.cpp", encode_as(text, "GBK"));
  write_file(tmp / "in/b.txt", "plain\r\nascii\r\n");
  const JobReport r =
      run_job(eol_plan(tmp / "in", tmp / "out", "GBK", "UTF-8", EolMode::lf, GetParam()));
  EXPECT_EQ(read_file(tmp / "out/a.cpp"), "// 注释\nint a;\n/* 中文 */\n");
  EXPECT_EQ(read_file(tmp / "out/b.txt"), "plain\nascii\n");
  const FileReport* a = entry_for(r, "a.cpp");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->eol_counted);
  EXPECT_EQ(a->eol_before, (EolCounts{0, 3, 0}));
  EXPECT_EQ(a->eol_after, (EolCounts{3, 0, 0}));
  EXPECT_EQ(eol_change_text(*a), "CRLF 3 -> LF 3");

  write_file(tmp / "in2/u.txt", encode_as("一\n二\r三\r\n", "GBK"));
  run_job(eol_plan(tmp / "in2", tmp / "out2", "GBK", "UTF-16LE", EolMode::crlf, GetParam()));
  EXPECT_EQ(read_file(tmp / "out2/u.txt"), encode_as("一\r\n二\r\n三\r\n", "UTF-16LE"));
  // A legacy target from UTF-8.
  write_file(tmp / "in3/l.txt", "一\n二\n");
  run_job(eol_plan(tmp / "in3", tmp / "out3", "UTF-8", "BIG5", EolMode::crlf, GetParam()));
  EXPECT_EQ(read_file(tmp / "out3/l.txt"), encode_as("一\r\n二\r\n", "BIG5"));
}

// In place: a file already in the target encoding is rewritten only when its line ends are
// wrong; one whose ends are right keeps its inode; binary files are never touched.
TEST_P(EolJob, InPlaceRewritesOnlyWrongLineEnds) {
  TempDir tmp;
  write_file(tmp / "t/crlf.txt", "中\r\nx\r\n");
  write_file(tmp / "t/lf.txt", "中\nx\n");
  write_file(tmp / "t/ascii.txt", "x\ny\n");
  const std::string binary = std::string("a\r\n\0b\r\n", 7);
  write_file(tmp / "t/bin.dat", binary);
  const ino_t lf_inode = inode_of(tmp / "t/lf.txt");
  const ino_t ascii_inode = inode_of(tmp / "t/ascii.txt");
  const JobReport r =
      run_job(eol_plan(tmp / "t", tmp / "t", "UTF-8", "UTF-8", EolMode::lf, GetParam()));
  EXPECT_EQ(read_file(tmp / "t/crlf.txt"), "中\nx\n");
  EXPECT_EQ(read_file(tmp / "t/lf.txt"), "中\nx\n");
  EXPECT_EQ(inode_of(tmp / "t/lf.txt"), lf_inode);
  EXPECT_EQ(inode_of(tmp / "t/ascii.txt"), ascii_inode);
  EXPECT_EQ(read_file(tmp / "t/bin.dat"), binary);
  ASSERT_NE(entry_for(r, "crlf.txt"), nullptr);
  EXPECT_FALSE(entry_for(r, "crlf.txt")->unchanged);
  EXPECT_TRUE(entry_for(r, "lf.txt")->unchanged);
}

// A dry run (a check) says which files the line ends would change, and writes nothing.
TEST_P(EolJob, DryRunKnowsWhatWouldChange) {
  TempDir tmp;
  write_file(tmp / "t/crlf.txt", "x\r\ny\r\n");
  write_file(tmp / "t/lf.txt", "x\ny\n");
  JobPlan plan = eol_plan(tmp / "t", tmp / "t", "UTF-8", "UTF-8", EolMode::lf, GetParam());
  plan.options.dry_run = true;
  const JobReport r = run_job(plan);
  EXPECT_EQ(read_file(tmp / "t/crlf.txt"), "x\r\ny\r\n");
  ASSERT_NE(entry_for(r, "crlf.txt"), nullptr);
  EXPECT_FALSE(entry_for(r, "crlf.txt")->unchanged);
  EXPECT_EQ(entry_for(r, "crlf.txt")->eol_before, (EolCounts{0, 2, 0}));
  EXPECT_TRUE(entry_for(r, "lf.txt")->unchanged);
}

INSTANTIATE_TEST_SUITE_P(WholeAndStreamed, EolJob, ::testing::Bool(), [](const auto& param_info) {
  return param_info.param ? "streamed" : "whole";
});
