// A tree checked against its .editorconfig: the first offending line of each file, nothing written.
#include <gtest/gtest.h>

#include <string>

#include "policy/conformance.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

std::string where(const std::optional<Offence>& o) {
  return o ? offence_text(*o) : std::string("none");
}

}  // namespace

// The first line end of another kind, counted in lines from 1, in one-byte and two-byte units
// of both orders; a CR LF pair is one line end, a CR at the very end a lone one.
TEST(Conformance, FirstWrongLineEnd) {
  const EolUnits bytes{1, false};
  EXPECT_EQ(where(first_wrong_line_end("a\nb\r\nc\n", bytes, EolMode::lf)),
            "line 2: CRLF line end, LF wanted");
  EXPECT_EQ(where(first_wrong_line_end("a\r\nb\r\nc\n", bytes, EolMode::crlf)),
            "line 3: LF line end, CRLF wanted");
  EXPECT_EQ(where(first_wrong_line_end("a\r\nb\r", bytes, EolMode::crlf)),
            "line 2: CR line end, CRLF wanted");
  EXPECT_EQ(where(first_wrong_line_end("a\rb\r\r\n", bytes, EolMode::cr)),
            "line 3: CRLF line end, CR wanted");
  EXPECT_EQ(where(first_wrong_line_end("a\r\nb\r\n", bytes, EolMode::crlf)), "none");
  EXPECT_EQ(where(first_wrong_line_end("a\r\nb\n", bytes, EolMode::keep)), "none");
  EXPECT_EQ(where(first_wrong_line_end("no line end", bytes, EolMode::lf)), "none");
  for (const char* form : {"UTF-16LE", "UTF-16BE", "UTF-32BE"}) {
    SCOPED_TRACE(form);
    const EolUnits units{std::string(form).find("32") != std::string::npos ? 4u : 2u,
                         std::string(form).find("BE") != std::string::npos};
    // U+0D0A is one character, not a line end, whichever order its units come in.
    const std::string text = encode_as("\u0D0A\u0A0D\r\nx\ny\r\n", form);
    EXPECT_EQ(where(first_wrong_line_end(text, units, EolMode::crlf)),
              "line 2: LF line end, CRLF wanted");
    EXPECT_EQ(where(first_wrong_line_end(text, units, EolMode::lf)),
              "line 1: CRLF line end, LF wanted");
  }
  EXPECT_EQ(where(first_wrong_line_end("a\r\n", EolUnits{0, false}, EolMode::lf)), "none");
}

// A job checking a tree against its .editorconfig: each file read as its own charset, the
// first thing wrong named with its line, the right ones pass whatever the run's source, and
// nothing is written; a file read in chunks gets the counts instead of a line.
TEST(Conformance, JobNamesFirstOffenceOfEachFile) {
  for (const bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "streamed" : "whole");
    TempDir tmp;
    write_file(tmp / "in/.editorconfig",
               "root = true\n[*]\ncharset = utf-8\nend_of_line = lf\n"
               "[*.l1]\ncharset = latin1\n[*.w]\ncharset = utf-16le\nend_of_line = crlf\n"
               "[*.bom]\ncharset = utf-8-bom\n");
    const std::string utf16 = "\xFF\xFE" + encode_as("中\r\nb\r\n", "UTF-16LE");
    write_file(tmp / "in/ok.c", "中文\nok\n");
    write_file(tmp / "in/crlf.c", "a\nb\r\nc\n");
    write_file(tmp / "in/gbk.c", "ok\nok\n// \xD6\xD0\xCE\xC4\n");
    write_file(tmp / "in/marked.c", "\xEF\xBB\xBFok\n");
    write_file(tmp / "in/le.c", "\xFF\xFE" + encode_as("a\n", "UTF-16LE"));
    write_file(tmp / "in/ok.l1", "caf\xE9\n");
    write_file(tmp / "in/ok.w", utf16);
    write_file(tmp / "in/lf.w", encode_as("a\r\nb\n", "UTF-16LE"));
    write_file(tmp / "in/no.bom", "plain\n");
    JobPlan plan = make_plan(tmp / "in", tmp / "in", "BIG5", "UTF-8");
    plan.options.editorconfig = true;
    plan.options.conform = true;
    plan.options.dry_run = true;
    if (streamed) {
      plan.options.whole_file_limit = 4;
      plan.options.stream_chunk = 3;
    }
    const std::vector<std::string> before = list_tree(tmp / "in");
    const JobReport r = run_job(plan);
    EXPECT_EQ(list_tree(tmp / "in"), before);
    EXPECT_EQ(read_file(tmp / "in/crlf.c"), "a\nb\r\nc\n");
    const auto offence = [&r](const char* path) {
      const FileReport* f = entry_for(r, path);
      return f == nullptr ? std::string("missing") : where(f->offence);
    };
    for (const char* ok : {"ok.c", "ok.l1", "ok.w"}) {
      EXPECT_EQ(offence(ok), "none") << ok;
      const FileReport* f = entry_for(r, ok);
      ASSERT_NE(f, nullptr) << ok;
      EXPECT_TRUE(f->unchanged) << ok << ": " << detail_text(*f);
    }
    EXPECT_EQ(offence("gbk.c"), "line 3: not UTF-8 (column 4)");
    EXPECT_EQ(offence("marked.c"), "line 1: a byte-order mark, none wanted");
    EXPECT_EQ(offence("le.c"), "line 1: a UTF-16LE byte-order mark, not UTF-8");
    EXPECT_EQ(offence("no.bom"), "line 1: no byte-order mark, one wanted");
    if (streamed) {
      EXPECT_EQ(offence("crlf.c"), "line ends 1 CRLF, LF wanted");
      EXPECT_EQ(offence("lf.w"), "line ends 1 LF, CRLF wanted");
    } else {
      EXPECT_EQ(offence("crlf.c"), "line 2: CRLF line end, LF wanted");
      EXPECT_EQ(offence("lf.w"), "line 2: LF line end, CRLF wanted");
    }
    ASSERT_NE(entry_for(r, "crlf.c"), nullptr);
    EXPECT_NE(detail_text(*entry_for(r, "crlf.c")).find("decided by .editorconfig"),
              std::string::npos);
  }
}
