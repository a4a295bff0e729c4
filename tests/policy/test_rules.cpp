// Per-pattern rules: order, first match, the run's settings filling the rest, on real jobs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "policy/file_policy.h"
#include "report/report.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

FileRule rule(const char* filter, const char* to, std::optional<EolMode> eol = std::nullopt,
              std::optional<BomMode> bom = std::nullopt) {
  FileRule r;
  r.filter = filter;
  r.to = EncodingEntry(to);
  r.eol = eol;
  r.bom = bom;
  return r;
}

const std::string kGbkLine = "// \xD6\xD0\xCE\xC4\r\nint a;\r\n";  // "中文" in GBK, CRLF
const std::string kUtf8Lf = "// 中文\nint a;\n";
const std::string kUtf8Crlf = "// 中文\r\nint a;\r\n";
const std::string kBom = "\xEF\xBB\xBF";

}  // namespace

// The first rule whose filter accepts the path decides, later ones are not looked at; an
// empty filter (the run's "every file") matches nothing in a rule.
TEST(PolicyResolver, FirstMatchingRuleDecides) {
  const PolicyResolver p(EolMode::keep, kDefaultBom,
                         {rule("", "UTF-32LE"), rule("*.cpp", "UTF-16LE", EolMode::crlf),
                          rule("*.cpp;*.h", "UTF-8", EolMode::lf), rule("*.*", "BIG5")});
  FilePolicy a = p.resolve("src/a.cpp", "/in/src/a.cpp");
  EXPECT_EQ(a.to.name, "UTF-16LE");
  EXPECT_EQ(a.eol, EolMode::crlf);
  EXPECT_EQ(a.decided_by, "rule 2: *.cpp");
  FilePolicy b = p.resolve("test/b.h", "/in/test/b.h");
  EXPECT_EQ(b.to.name, "UTF-8");
  EXPECT_EQ(b.eol, EolMode::lf);
  EXPECT_EQ(b.decided_by, "rule 3: *.cpp;*.h");
  EXPECT_EQ(p.resolve("README", "/in/README").decided_by, "rule 4: *.*");
  // Extensions ignore letter case, as the run's filter does; the name is matched, not a
  // directory ending like one.
  EXPECT_EQ(p.resolve("X.CPP", "/in/X.CPP").to.name, "UTF-16LE");
  EXPECT_EQ(p.resolve("a.cpp/notes.md", "/in/a.cpp/notes.md").decided_by, "rule 4: *.*");
}

// What the rule leaves out comes from the run; a file no rule takes gets the run's settings
// and names nothing.
TEST(PolicyResolver, RunSettingsFillTheRest) {
  const PolicyResolver p(EolMode::crlf, BomMode::keep,
                         {rule("*.sh", "", std::nullopt, BomMode::remove), rule("*.txt", "")});
  const FilePolicy sh = p.resolve("run.sh", "/in/run.sh");
  EXPECT_TRUE(sh.to.empty());
  EXPECT_EQ(sh.eol, EolMode::crlf);
  EXPECT_EQ(sh.bom, BomMode::remove);
  // A rule that sets nothing still decided: later rules are not consulted.
  EXPECT_EQ(p.resolve("a.txt", "/in/a.txt").decided_by, "rule 2: *.txt");
  const FilePolicy other = p.resolve("a.md", "/in/a.md");
  EXPECT_TRUE(other.to.empty());
  EXPECT_EQ(other.eol, EolMode::crlf);
  EXPECT_EQ(other.bom, BomMode::keep);
  EXPECT_EQ(other.decided_by, "");
}

// An extra source (where .editorconfig plugs in) fills only what the rule left out, and is
// named only when it set something; the rule always wins where both speak.
TEST(PolicyResolver, SourcesComeAfterRules) {
  PolicyResolver p(EolMode::keep, kDefaultBom, {rule("*.h", "UTF-16LE")});
  std::atomic<int> calls{0};
  p.add_source([&calls](std::string_view, const std::string& full) {
    ++calls;
    PolicyPart part;
    part.to = EncodingEntry("BIG5");
    part.eol = EolMode::lf;
    part.label = ".editorconfig at " + full;
    return part;
  });
  const FilePolicy h = p.resolve("a.h", "/in/a.h");
  EXPECT_EQ(h.to.name, "UTF-16LE");
  EXPECT_EQ(h.eol, EolMode::lf);
  EXPECT_EQ(h.bom, kDefaultBom);
  EXPECT_EQ(h.decided_by, "rule 1: *.h; .editorconfig at /in/a.h");
  const FilePolicy c = p.resolve("a.c", "/in/a.c");
  EXPECT_EQ(c.to.name, "BIG5");
  EXPECT_EQ(c.decided_by, ".editorconfig at /in/a.c");
  EXPECT_EQ(calls.load(), 2);
  EXPECT_FALSE(p.trivial());
  EXPECT_TRUE(PolicyResolver(EolMode::keep, kDefaultBom, {}).trivial());
}

// A job with rules: a tree of CRLF GBK files, C++ sources to UTF-8 with a mark and CRLF,
// the rest to UTF-8 with LF; byte for byte, each entry naming its rule, whole and streamed.
TEST(RulesJob, PerPatternOutputsByteForByte) {
  for (const bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "streamed" : "whole");
    TempDir tmp;
    for (const char* f : {"a.cpp", "inc/b.h", "notes.txt", "c.H"})
      write_file(tmp / "in/" + f, kGbkLine);
    JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
    plan.options.eol = EolMode::lf;
    plan.options.rules = {rule("*.cpp;*.h", "UTF-8 with BOM", EolMode::crlf)};
    if (streamed) {
      plan.options.whole_file_limit = 8;
      plan.options.stream_chunk = 5;
    }
    const JobReport r = run_job(plan);
    for (const char* f : {"a.cpp", "inc/b.h", "c.H"}) {
      EXPECT_EQ(read_file(tmp / "out/" + f), kBom + kUtf8Crlf) << f;
      ASSERT_NE(entry_for(r, f), nullptr);
      EXPECT_EQ(entry_for(r, f)->rule, "rule 1: *.cpp;*.h");
      EXPECT_EQ(entry_for(r, f)->target, "UTF-8 with BOM");
      EXPECT_NE(detail_text(*entry_for(r, f)).find("decided by rule 1: *.cpp;*.h"),
                std::string::npos);
    }
    EXPECT_EQ(read_file(tmp / "out/notes.txt"), kUtf8Lf);
    ASSERT_NE(entry_for(r, "notes.txt"), nullptr);
    EXPECT_EQ(entry_for(r, "notes.txt")->rule, "");
    EXPECT_EQ(entry_for(r, "notes.txt")->target, "UTF-8");
    EXPECT_EQ(r.failures(), 0u);
  }
}

// A rule's mark and line ends apply to a file already in the target encoding (rewritten only
// for them), and a rule's own target turns one file into UTF-16 while the run writes UTF-8.
TEST(RulesJob, MarksLineEndsAndTargetsPerRule) {
  TempDir tmp;
  write_file(tmp / "in/ok.sh", kUtf8Crlf);
  write_file(tmp / "in/w.cs", kGbkLine);
  write_file(tmp / "in/z.md", kGbkLine);
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  plan.options.detect = false;
  plan.options.rules = {rule("*.sh", "", EolMode::lf, BomMode::add),
                        rule("*.cs", "UTF-16LE", std::nullopt, BomMode::add)};
  const JobReport r = run_job(plan);
  EXPECT_EQ(read_file(tmp / "out/ok.sh"), kBom + kUtf8Lf);
  EXPECT_EQ(read_file(tmp / "out/w.cs"), "\xFF\xFE" + encode_as(kUtf8Crlf, "UTF-16LE"));
  EXPECT_EQ(read_file(tmp / "out/z.md"), kUtf8Crlf);
  ASSERT_NE(entry_for(r, "w.cs"), nullptr);
  EXPECT_EQ(entry_for(r, "w.cs")->target, "UTF-16LE");
  EXPECT_EQ(entry_for(r, "w.cs")->rule, "rule 2: *.cs");
  EXPECT_NE(report_json(r).find("\"rule\":\"rule 2: *.cs\""), std::string::npos);
  EXPECT_NE(report_csv(r).find("decided by rule 1: *.sh"), std::string::npos);
}
