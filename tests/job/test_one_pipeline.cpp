// A file held whole and the same file read in small chunks go through one pipeline: the same
// report and the same bytes written, whatever the content and the run's options.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "job/job.h"
#include "job/undo_job.h"
#include "repair/repair_codec.h"
#include "report/report.h"
#include "tests/support/test_support.h"
#include "transcode/marks.h"

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
                  mark_change_text(f) + " | sample " + f.sample + " | repaired " +
                  f.repaired_sample;
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

Result run_case(const Case& c, bool chunked,
                const std::map<std::string, std::string>& files = tree()) {
  TempDir tmp;
  for (const auto& [name, bytes] : files) write_file(tmp / ("in/" + name), bytes);
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
  if (!c.in_place) return o;
  std::erase_if(o.written, [](const auto& e) { return e.first.rfind(".ouzel-undo/", 0) == 0; });
  // Every case in place is taken back byte for byte, whatever each file's outcome, and the
  // store that held the old content goes with it.
  UndoPlan undo;
  undo.root = tmp / "in";
  JobRecorder quiet;
  const JobReport back = UndoJob(undo).run(quiet);
  EXPECT_EQ(back.failures(), 0u) << c.name;
  EXPECT_EQ(read_tree(tmp / "in"), files) << c.name << (chunked ? ", chunked" : ", whole");
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

// UTF-8 text as a tool that read it through `encoding` wrote it out again.
std::string misread(const std::string& utf8, const char* encoding) {
  std::string out;
  EXPECT_TRUE(repair::decode_exact(utf8, encoding, out)) << encoding;
  return out;
}

const std::string kFrench = "Le fichier « données » a été créé à l'été, déjà vérifié.\n";

// One file of each kind a repair tells apart.
std::map<std::string, std::string> repair_tree() {
  const std::string& french = kFrench;
  const std::string lines[] = {"第一行：读取配置文件\r\n", "第二行：检查每个目录\n",
                               "第三行：写入目标文件\n"};
  std::string mixed, bad;
  for (int i = 0; i < 12; ++i) {
    const std::string& line = lines[i % 3];
    mixed += i % 2 == 0 ? encode_as(line, "GBK") : line;
  }
  bad = mixed + "\x81\x20 neither\n" + mixed;
  return {
      {"cp1252.txt", misread(french + french, "CP1252")},
      {"marked_cp1252.txt", "\xEF\xBB\xBF" + misread(french, "CP1252")},
      {"latin1.txt", misread(french, "ISO-8859-1")},
      {"gbk.txt", misread("Файл не найден, проверьте путь к каталогу.\n", "GBK")},
      {"twice.txt", misread(misread(french, "CP1252"), "CP1252")},
      // GBK bytes read as Latin-1: valid UTF-8 that undoes to no UTF-8.
      {"gbk_as_latin1.txt", misread(encode_as(lines[1], "GBK"), "ISO-8859-1")},
      {"mixed.txt", mixed},
      {"mixed_no_end.txt", mixed + encode_as("最后一行没有结尾", "GBK")},
      {"not_repairable.txt", bad},
      {"utf8.txt", lines[0] + lines[1]},
      {"clean_gbk.txt", encode_as(lines[2], "GBK")},
  };
}

// Double-encoded and mixed files, reported or repaired, give the same reports and bytes held
// whole as read in chunks of 7 bytes (each multi-byte character and line cut somewhere).
TEST(OnePipeline, RepairsWholeAndChunkedAgree) {
  const auto repairing = [](JobPlan& p) {
    p.options.repair = true;
    p.options.samples = true;
  };
  const std::vector<Case> cases = {
      {"reported", "GBK", "UTF-8", [](JobPlan& p) { p.options.samples = true; }},
      {"repaired", "GBK", "UTF-8", repairing},
      {"repaired, crlf, mark", "GBK", "UTF-8",
       [&](JobPlan& p) {
         repairing(p);
         p.options.eol = EolMode::crlf;
         p.options.bom = BomMode::add;
       }},
      {"repaired into GB18030, lf", "GBK", "GB18030",
       [&](JobPlan& p) {
         repairing(p);
         p.options.eol = EolMode::lf;
       }},
      {"repaired into UTF-16LE with a mark", "GBK", "UTF-16LE",
       [&](JobPlan& p) {
         repairing(p);
         p.options.bom = BomMode::add;
       }},
      {"repaired into BIG5: no form for simplified text", "GBK", "BIG5", repairing},
      {"not looked for", "GBK", "UTF-8", [](JobPlan& p) { p.options.repair_check = false; }},
      {"dry run", "GBK", "UTF-8",
       [&](JobPlan& p) {
         repairing(p);
         p.options.dry_run = true;
       }},
      {"detected", "GBK", "UTF-8",
       [&](JobPlan& p) {
         repairing(p);
         p.options.detect = true;
       }},
      {"in place", "GBK", "UTF-8", repairing, true},
      {"from UTF-8, marks kept", "UTF-8", "UTF-8",
       [&](JobPlan& p) {
         repairing(p);
         p.options.bom = BomMode::keep;
       }},
  };
  std::set<std::string> seen;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result whole = run_case(c, false, repair_tree());
    const Result chunked = run_case(c, true, repair_tree());
    ASSERT_EQ(whole.reports.size(), repair_tree().size());
    for (const auto& [path, text] : whole.reports) {
      EXPECT_EQ(chunked.reports.at(path), text) << path;
      seen.insert(text.substr(0, text.find(" | bytes")));
    }
    EXPECT_EQ(chunked.written, whole.written);
    // Kept, the source's own mark stays before the repaired text.
    if (c.from == std::string("UTF-8")) {
      EXPECT_EQ(whole.written.at("marked_cp1252.txt"), "\xEF\xBB\xBF" + kFrench);
    }
  }
  // The matrix reaches each verdict: found, repaired, refused, and left alone.
  for (const char* verdict : {"double-encoded | UTF-8", "mixed | GBK", "converted | UTF-8 -> UTF-8",
                              "converted | GBK -> UTF-8", "cannot-convert | GBK",
                              "cannot-convert | UTF-8 -> BIG5", "already-utf8 | UTF-8"})
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](const std::string& s) {
      return s.rfind(verdict, 0) == 0;
    })) << verdict;
}

// A file detection left ambiguous is repaired, or left ambiguous, the same whole and chunked.
TEST(OnePipeline, AmbiguousRepairsWholeAndChunkedAgree) {
  const std::string czech = "Soubor nelze otevřít: přístup odepřen, zkontrolujte oprávnění.";
  const std::map<std::string, std::string> files = {
      {"double.txt", misread(czech, "CP1252")},
      {"mixed.txt", "// " + czech + "\n// " + encode_as(czech, "ISO-8859-2") + "\n"},
      {"unsure.txt", "x = 1; // sk\xE8\n"},
  };
  for (const bool repair : {false, true}) {
    SCOPED_TRACE(repair ? "repaired" : "reported");
    const Case c = {"ambiguous", "GBK", "UTF-8", [repair](JobPlan& p) {
                      p.options.repair = repair;
                      p.options.samples = true;
                      p.options.detect = true;
                      p.options.candidates = {"ISO-8859-1", "ISO-8859-2"};
                    }};
    const Result whole = run_case(c, false, files), chunked = run_case(c, true, files);
    ASSERT_EQ(whole.reports.size(), files.size());
    for (const auto& [path, text] : whole.reports) EXPECT_EQ(chunked.reports.at(path), text);
    EXPECT_EQ(chunked.written, whole.written);
    EXPECT_EQ(whole.reports.at("unsure.txt").rfind("ambiguous", 0), 0u);
    EXPECT_EQ(whole.reports.at("mixed.txt").rfind(repair ? "converted" : "mixed", 0), 0u)
        << whole.reports.at("mixed.txt");
  }
}

}  // namespace

namespace {

// Important: a file read in chunks is decided on its first 64 KiB. Escapes that begin after
// them are not looked for (which would take one more pass over every UTF-8 file); lines of two
// encodings under a named source are counted over the whole file, chunked or not.
TEST(OnePipeline, ChunkedRepairDecidedOnItsBeginning) {
  std::string ascii;
  while (ascii.size() <= 64 * 1024) ascii += "a plain line of text before anything else\n";
  std::string gbk, jis;
  for (int i = 0; i < 4; ++i) {
    const std::string line = i % 2 == 0 ? "第一行：读取配置文件\n" : "第二行：检查每个目录\n";
    gbk += i % 2 == 0 ? encode_as(line, "GBK") : line;
    jis += i % 2 == 0 ? "# " + encode_as("ファイルを開けませんでした。", "ISO-2022-JP") + "\n"
                      : "# 設定を保存しました\n";
  }
  const auto repairing = [](JobPlan& p) { p.options.repair = true; };
  const Case named = {"named", "GBK", "UTF-8", repairing};
  const Case escapes = {"escapes", "ISO-2022-JP", "UTF-8", repairing};
  const std::map<std::string, std::string> late_gbk = {{"a.txt", ascii + gbk}};
  const std::map<std::string, std::string> late_jis = {{"a.txt", ascii + jis}};
  const Result gbk_whole = run_case(named, false, late_gbk);
  const Result gbk_chunked = run_case(named, true, late_gbk);
  EXPECT_EQ(gbk_whole.reports.at("a.txt").rfind("converted | GBK", 0), 0u);
  EXPECT_EQ(gbk_chunked.reports.at("a.txt"), gbk_whole.reports.at("a.txt"));
  EXPECT_EQ(gbk_chunked.written, gbk_whole.written);
  const Result jis_whole = run_case(escapes, false, late_jis);
  const Result jis_chunked = run_case(escapes, true, late_jis);
  EXPECT_EQ(jis_whole.reports.at("a.txt").rfind("converted | ISO-2022-JP", 0), 0u)
      << jis_whole.reports.at("a.txt");
  EXPECT_EQ(jis_chunked.reports.at("a.txt").rfind("already-utf8", 0), 0u);
  EXPECT_EQ(jis_chunked.written.at("a.txt"), late_jis.at("a.txt"));
}

}  // namespace
