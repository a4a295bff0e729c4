// .editorconfig as a policy source: sections and globs, the mapping, precedence, bad files.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/editorconfig.h"
#include "platform/sys_io.h"
#include "policy/editorconfig_policy.h"
#include "report/report.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

platform::EditorconfigLookup lookup(const std::string& path) {
  platform::EditorconfigReader reader;
  return reader.lookup(path);
}

// "charset=...;end_of_line=..." of the two properties this tool reads; "error" on failure.
std::string props(const std::string& path) {
  const platform::EditorconfigLookup l = lookup(path);
  if (!l.error.empty()) return "error";
  return "charset=" + l.value("charset") + ";end_of_line=" + l.value("end_of_line");
}

platform::EditorconfigLookup with(const char* charset, const char* eol) {
  platform::EditorconfigLookup l;
  if (charset != nullptr) l.properties.emplace_back("charset", charset);
  if (eol != nullptr) l.properties.emplace_back("end_of_line", eol);
  return l;
}

const std::string kGbkCrlf = "// \xD6\xD0\xCE\xC4\r\nint a;\r\n";  // "中文" in GBK
const std::string kUtf8 = "// 中文\nint a;\n";

}  // namespace

// Sections with braces, a folder glob and a nested file overriding its parent for its own
// files; root = true stops the look upwards, a file without it lets the one above speak.
TEST(EditorconfigLookup, SectionsGlobsAndNesting) {
  TempDir tmp;
  write_file(tmp / ".editorconfig", "[*]\nend_of_line = cr\ncharset = utf-16le\n");
  write_file(tmp / "p/.editorconfig",
             "root = true\n[*]\ncharset = utf-8\n[*.{cpp,h}]\nend_of_line = CRLF\n"
             "[lib/**]\ncharset = latin1\n");
  write_file(tmp / "p/lib/sub/.editorconfig", "[*.h]\nend_of_line = lf\n");
  write_file(tmp / "q/.editorconfig", "[*.txt]\ncharset = utf-8-bom\n");
  EXPECT_EQ(props(tmp / "p/a.cpp"), "charset=utf-8;end_of_line=crlf");
  EXPECT_EQ(props(tmp / "p/src/b.h"), "charset=utf-8;end_of_line=crlf");
  EXPECT_EQ(props(tmp / "p/a.txt"), "charset=utf-8;end_of_line=");
  EXPECT_EQ(props(tmp / "p/lib/x.c"), "charset=latin1;end_of_line=");
  EXPECT_EQ(props(tmp / "p/lib/sub/x.h"), "charset=latin1;end_of_line=lf");
  EXPECT_EQ(props(tmp / "p/lib/sub/x.cpp"), "charset=latin1;end_of_line=crlf");
  // Without root = true the file above fills what the nearer one leaves out.
  EXPECT_EQ(props(tmp / "q/n.txt"), "charset=utf-8-bom;end_of_line=cr");
  EXPECT_EQ(props(tmp / "q/n.md"), "charset=utf-16le;end_of_line=cr");
  // A relative path with dots is made absolute first, so folder globs still match.
  ScopedCwd cwd(tmp / "p/lib");
  EXPECT_EQ(props("./sub/../sub/x.h"), "charset=latin1;end_of_line=lf");
}

// Each charset and end_of_line the tool knows, and values it passes over as editors do.
TEST(EditorconfigPolicy, MapsCharsetAndEndOfLine) {
  struct Case {
    const char* charset;
    const char* to;
    std::optional<BomMode> bom;
  };
  for (const Case& c :
       {Case{"latin1", "ISO-8859-1", std::nullopt}, Case{"utf-8", "UTF-8", BomMode::remove},
        Case{"utf-8-bom", "UTF-8", BomMode::add}, Case{"utf-16be", "UTF-16BE", BomMode::keep},
        Case{"utf-16le", "UTF-16LE", BomMode::keep}}) {
    const PolicyPart part = editorconfig_part(with(c.charset, nullptr));
    EXPECT_EQ(part.to.name, c.to) << c.charset;
    EXPECT_EQ(part.bom, c.bom) << c.charset;
    EXPECT_FALSE(part.eol) << c.charset;
    EXPECT_EQ(part.label, std::string(".editorconfig: charset=") + c.charset);
  }
  EXPECT_EQ(editorconfig_part(with(nullptr, "lf")).eol, EolMode::lf);
  EXPECT_EQ(editorconfig_part(with(nullptr, "crlf")).eol, EolMode::crlf);
  const PolicyPart cr = editorconfig_part(with("utf-8", "cr"));
  EXPECT_EQ(cr.eol, EolMode::cr);
  EXPECT_EQ(cr.label, ".editorconfig: charset=utf-8, end_of_line=cr");
  const PolicyPart unknown = editorconfig_part(with("utf-32", "unset"));
  EXPECT_FALSE(unknown.sets_anything());
  EXPECT_EQ(unknown.label, "");
  EXPECT_EQ(unknown.error, "");
}

// Rules first, then .editorconfig, then the run's settings, field by field; the report names
// both sources that set something, and of .editorconfig only what the file took.
TEST(EditorconfigPolicy, PrecedenceBetweenRulesEditorconfigAndRun) {
  TempDir tmp;
  write_file(tmp / ".editorconfig",
             "root = true\n[*]\ncharset = utf-16le\nend_of_line = crlf\n[*.md]\ncharset = unset\n");
  FileRule cpp;
  cpp.filter = "*.cpp";
  cpp.eol = EolMode::lf;
  FileRule full;
  full.filter = "*.h";
  full.to = EncodingEntry("BIG5");
  full.eol = EolMode::cr;
  full.bom = BomMode::keep;
  PolicyResolver p(EolMode::keep, BomMode::add, {cpp, full});
  p.add_source(editorconfig_source());
  const FilePolicy a = p.resolve("a.cpp", tmp / "a.cpp");
  EXPECT_EQ(a.to.name, "UTF-16LE");
  EXPECT_EQ(a.eol, EolMode::lf);
  EXPECT_EQ(a.bom, BomMode::keep);  // utf-16le keeps the file's own mark
  // The rule's line ends won: .editorconfig is named only for what the file took from it.
  EXPECT_EQ(a.decided_by, "rule 1: *.cpp; .editorconfig: charset=utf-16le");
  const FilePolicy h = p.resolve("b.h", tmp / "b.h");
  EXPECT_EQ(h.to.name, "BIG5");
  EXPECT_EQ(h.decided_by, "rule 2: *.h");
  const FilePolicy md = p.resolve("c.md", tmp / "c.md");
  EXPECT_TRUE(md.to.empty());  // the run's target
  EXPECT_EQ(md.eol, EolMode::crlf);
  EXPECT_EQ(md.decided_by, ".editorconfig: end_of_line=crlf");
}

// A file that cannot be parsed, and one that cannot be opened (which the library alone would
// pass over), are named with what is wrong; files under neither are not affected.
TEST(EditorconfigLookup, BrokenOrUnreadableFileIsNamed) {
  TempDir tmp;
  write_file(tmp / "ok/.editorconfig", "root = true\n[*]\ncharset = utf-8\n");
  write_file(tmp / "bad/.editorconfig", "root = true\n[*]\ncharset = utf-8\n[*.c\n");
  write_file(tmp / "locked/.editorconfig", "root = true\n[*]\ncharset = latin1\n");
  const platform::EditorconfigLookup bad = lookup(tmp / "bad/x.c");
  EXPECT_EQ(bad.error, tmp / "bad/.editorconfig: line 4 cannot be parsed");
  EXPECT_FALSE(editorconfig_part(bad).sets_anything());
  EXPECT_EQ(editorconfig_part(bad).error, bad.error);
  platform::ScopedSysIo restore;
  platform::sysio().open = [](const char* path, int flags, mode_t mode) {
    if (std::strstr(path, "locked/.editorconfig") != nullptr) {
      errno = EACCES;
      return -1;
    }
    return ::open(path, flags, mode);
  };
  platform::EditorconfigReader reader;
  for (const char* f : {"locked/a.c", "locked/deep/er/b.c"}) {
    const platform::EditorconfigLookup locked = reader.lookup(tmp / f);
    EXPECT_EQ(locked.error, tmp / "locked/.editorconfig cannot be read: Permission denied") << f;
    EXPECT_EQ(locked.error_number, EACCES);
  }
  const platform::EditorconfigLookup ok = reader.lookup(tmp / "ok/a.c");
  EXPECT_EQ(ok.error, "");
  EXPECT_EQ(ok.value("charset"), "utf-8");
}

// A job following .editorconfig: each file written as its section says, byte for byte, the
// rules still first; a file under a broken .editorconfig is cannot-convert, copied as read
// into the output tree and left alone in place, whole and streamed.
TEST(EditorconfigJob, ConvertsPerFileAndLeavesBrokenOnesAlone) {
  for (const bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "streamed" : "whole");
    TempDir tmp;
    write_file(tmp / "in/.editorconfig",
               "root = true\n[*]\ncharset = utf-8\n[*.h]\nend_of_line = cr\n"
               "[le/**]\ncharset = utf-16le\nend_of_line = crlf\n");
    write_file(tmp / "in/bad/.editorconfig", "[*\n");
    for (const char* f : {"a.cpp", "b.h", "le/c.txt", "bad/d.cpp", "r.sh"})
      write_file(tmp / "in/" + f, kGbkCrlf);
    JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "BIG5");
    plan.filter = "*.cpp;*.h;*.txt;*.sh";
    plan.options.editorconfig = true;
    plan.options.eol = EolMode::lf;
    FileRule sh;
    sh.filter = "*.sh";
    sh.bom = BomMode::add;
    plan.options.rules = {sh};
    if (streamed) {
      plan.options.whole_file_limit = 8;
      plan.options.stream_chunk = 5;
    }
    const JobReport r = run_job(plan);
    EXPECT_EQ(read_file(tmp / "out/a.cpp"), kUtf8);  // no end_of_line: the run's LF
    EXPECT_EQ(read_file(tmp / "out/b.h"), "// 中文\rint a;\r");
    EXPECT_EQ(read_file(tmp / "out/le/c.txt"), encode_as("// 中文\r\nint a;\r\n", "UTF-16LE"));
    // The rule's mark, .editorconfig's charset: "utf-8" asks for no mark, the rule wins.
    EXPECT_EQ(read_file(tmp / "out/r.sh"), "\xEF\xBB\xBF" + kUtf8);
    ASSERT_NE(entry_for(r, "r.sh"), nullptr);
    EXPECT_EQ(entry_for(r, "r.sh")->rule, "rule 1: *.sh; .editorconfig: charset=utf-8");
    const FileReport* bad = entry_for(r, "bad/d.cpp");
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->outcome, Outcome::cannot_convert);
    EXPECT_EQ(bad->note, tmp / "in/bad/.editorconfig: line 1 cannot be parsed");
    EXPECT_EQ(read_file(tmp / "out/bad/d.cpp"), kGbkCrlf);
    EXPECT_EQ(r.failures(), 1u);
    // In place the broken one keeps its bytes and the rest are converted.
    plan.output = plan.input;
    run_job(plan);
    EXPECT_EQ(read_file(tmp / "in/bad/d.cpp"), kGbkCrlf);
    EXPECT_EQ(read_file(tmp / "in/b.h"), "// 中文\rint a;\r");
  }
}
