// A file held whole and the same file read in small chunks go through one pipeline: the same
// report and the same bytes written, whatever the content and the run's options.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "convert/job.h"
#include "convert/marks.h"
#include "convert/report.h"
#include "test_support.h"

using namespace testing_support;

namespace {

const std::string kChinese = "第一行：读取配置文件\r\n第二行 checks every folder\n";

// One file of each kind the rules tell apart.
std::map<std::string, std::string> tree() {
  std::string gbk_bad = encode_as(kChinese, "GBK");
  gbk_bad.insert(gbk_bad.size() / 2, "\x81\x20");  // a lead byte with no trail: not GBK
  std::string binary = "text\nmore text\n";
  binary += std::string("\0\x01\x02", 3) + "after";
  return {
      {"ascii.txt", "plain text\r\nline two\nline three"},
      {"utf8.txt", kChinese},
      {"utf8_mark.txt", "\xEF\xBB\xBF" + kChinese},
      {"gbk.txt", encode_as(kChinese, "GBK")},
      // GBK bytes that are valid UTF-8 as well, reading as nonsense in UTF-8.
      {"doubtful.cpp", encode_as("int mode = 0;  // 模式\nreturn mode;\n", "GBK")},
      {"binary.bin", binary},
      {"utf16_mark.txt", "\xFF\xFE" + encode_as("mark of another form\n", "UTF-16LE")},
      {"cannot.txt", gbk_bad},
      {"empty.txt", ""},
  };
}

// Important: a check names the first wrong line of a file held whole, only counts of one read in
// chunks; that it found an offence is what both must say.
std::string describe(FileReport f) {
  const bool offence = f.offence.has_value();
  f.offence.reset();
  std::string d = std::string(outcome_name(f.outcome)) + " | " + f.source + " -> " + f.target +
                  " | bytes " + std::to_string(f.bytes) + " | error " + std::to_string(f.error) +
                  " | " + detail_text(f) + " | note " + f.note + " | unchanged " +
                  (f.unchanged ? "yes" : "no") + " | eol " + eol_change_text(f) + " | mark " +
                  mark_change_text(f) + " | sample " + f.sample;
  if (offence) d += " | offence";
  if (f.stop)
    d += " | stop " + std::to_string(f.stop->offset) + ":" + std::to_string(f.stop->line) + ":" +
         std::to_string(f.stop->column);
  return d;
}

struct Result {
  std::map<std::string, std::string> reports;  // path -> description
  std::map<std::string, std::string> written;  // the output tree (the input tree in place)
};

struct Case {
  const char* name;
  const char* from;
  const char* to;
  std::function<void(JobPlan&)> adjust;
  bool in_place = false;
};

Result run_case(const Case& c, bool chunked) {
  TempDir tmp;
  for (const auto& [name, bytes] : tree()) write_file(tmp / ("in/" + name), bytes);
  const std::string out = c.in_place ? tmp / "in" : tmp / "out";
  JobPlan plan = make_plan(tmp / "in", out, c.from, c.to);
  if (c.adjust) c.adjust(plan);
  if (chunked) {
    plan.options.whole_file_limit = 0;  // every file in chunks
    plan.options.stream_chunk = 7;
  }
  const JobReport r = run_job(plan);
  Result o;
  for (const FileReport& f : r.files) o.reports[f.path] = describe(f);
  o.written = read_tree(out);
  return o;
}

// Whole and chunked agree on every file, and the files do not all end the same way (the
// matrix reaches the rules it is meant to).
TEST(OnePipeline, WholeAndChunkedAgree) {
  const std::vector<Case> cases = {
      {"into UTF-8", "GBK", "UTF-8", nullptr},
      {"crlf", "GBK", "UTF-8", [](JobPlan& p) { p.options.eol = EolMode::crlf; }},
      {"bom add", "GBK", "UTF-8", [](JobPlan& p) { p.options.bom = BomMode::add; }},
      {"bom remove, lf", "UTF-8", "UTF-8",
       [](JobPlan& p) {
         p.options.bom = BomMode::remove;
         p.options.eol = EolMode::lf;
       }},
      {"bom keep into UTF-16", "GBK", "UTF-16LE",
       [](JobPlan& p) { p.options.bom = BomMode::keep; }},
      {"UTF-8 text into GB18030", "GBK", "GB18030", nullptr},
      {"into BIG5", "GBK", "BIG5", nullptr},
      {"dry run", "GBK", "UTF-8",
       [](JobPlan& p) {
         p.options.dry_run = true;
         p.options.eol = EolMode::crlf;
       }},
      {"samples", "GBK", "UTF-8", [](JobPlan& p) { p.options.samples = true; }},
      {"detect", "GBK", "UTF-8",
       [](JobPlan& p) {
         p.options.detect = true;
         p.options.samples = true;
       }},
      {"check", "GBK", "UTF-8",
       [](JobPlan& p) {
         p.options.conform = true;
         p.options.dry_run = true;
         p.options.eol = EolMode::lf;
       }},
      {"in place", "GBK", "UTF-8", [](JobPlan& p) { p.options.eol = EolMode::lf; }, true},
      {"in place, nothing to change", "GBK", "GBK", nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result whole = run_case(c, false), chunked = run_case(c, true);
    ASSERT_EQ(whole.reports.size(), tree().size());
    std::set<std::string> outcomes;
    for (const auto& [path, text] : whole.reports) {
      EXPECT_EQ(chunked.reports.at(path), text) << path;
      outcomes.insert(text.substr(0, text.find(' ')));
    }
    EXPECT_GE(outcomes.size(), 3u);
    EXPECT_EQ(chunked.written, whole.written);
  }
}

}  // namespace
