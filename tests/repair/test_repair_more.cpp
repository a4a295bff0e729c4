// Repairs beyond one ASCII-compatible source: lines that switch sets by escapes (ISO-2022-JP)
// beside UTF-8 ones, a narrow label (SHIFT_JIS) read as its wider one, files detection left
// ambiguous, and the lead-character test that lets clean text skip the undoing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/file_convert.h"
#include "job/job.h"
#include "repair/repair_codec.h"
#include "repair/repair_double.h"
#include "repair/repair_leads.h"
#include "repair/repair_mixed.h"
#include "report/report.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::vector<std::string> kJapanese = {
    "ファイルを開けませんでした。", "アクセス権を確認してください。", "設定を保存しました",
    "接続がタイムアウトしました",   "パス C:\\temp に書けません",     "値は ~ から始まります"};

// Lines alternately in `encoding` and UTF-8, as the original text and the file.
std::pair<std::string, std::string> alternate(const std::string& encoding) {
  std::string original, file;
  for (size_t i = 0; i < kJapanese.size(); ++i) {
    const std::string line = "# " + kJapanese[i];
    original += line + "\n";
    file += (i % 2 == 0 ? encode_as(line, encoding) : line) + "\n";
  }
  return {original, file};
}

JobPlan repairing(const std::string& in, const std::string& out, const char* from, bool repair) {
  JobPlan plan = make_plan(in, out, from, "UTF-8");
  plan.options.repair = repair;
  return plan;
}

}  // namespace

// ISO-2022-JP lines are 7-bit, so the file is valid UTF-8 as a whole: told apart by their
// escapes, reported as mixed, and repaired per line, whole and in chunks, named by hand or
// among the Japanese candidates. A line whose escapes do not read is named; terminal colour
// codes in a UTF-8 file are no such line.
TEST(RepairEscapes, Iso2022JpLinesBesideUtf8) {
  TempDir tmp;
  const auto [original, file] = alternate("ISO-2022-JP");
  ASSERT_NE(file.find("\x1b$B"), std::string::npos);
  std::string big_original, big_file;
  for (int i = 0; i < 80; ++i) big_original += original, big_file += file;
  write_file(tmp / "in/a.txt", file);
  write_file(tmp / "in/big.txt", big_file);
  write_file(tmp / "in/colours.txt", "\x1b[1mエラー\x1b[0m\n");
  for (bool detect : {false, true}) {
    for (bool repair : {false, true}) {
      SCOPED_TRACE(std::string(detect ? "detect" : "named") + (repair ? ", repair" : ""));
      const std::string out = tmp / ("out" + std::to_string(detect) + std::to_string(repair));
      JobPlan plan = repairing(tmp / "in", out, detect ? "CP932" : "ISO-2022-JP", repair);
      plan.options.detect = detect;
      plan.options.whole_file_limit = 4000;
      plan.options.stream_chunk = 1013;
      const JobReport r = run_job(plan);
      for (const char* name : {"a.txt", "big.txt"}) {
        const FileReport* e = entry_for(r, name);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->outcome, repair ? Outcome::converted : Outcome::mixed) << name << e->note;
        EXPECT_EQ(e->source, "ISO-2022-JP") << name;
        EXPECT_NE(e->note.find("lines ISO-2022-JP (line 1: # ファイルを開けませんでした。)"),
                  std::string::npos)
            << e->note;
      }
      EXPECT_EQ(read_file(out + "/a.txt"), repair ? original : file);
      EXPECT_TRUE(read_file(out + "/big.txt") == (repair ? big_original : big_file));
      EXPECT_EQ(entry_for(r, "colours.txt")->outcome, Outcome::already_utf8);
    }
  }
  // A line left in a two-byte set runs on into the next, which alone would read as ASCII.
  const std::string jis = encode_as("設定を保存", "ISO-2022-JP");
  const std::string cut = jis.substr(0, jis.size() - 3) + "\n" + jis.substr(3) + "\n";
  const repair::MixedFacts f = repair::scan_mixed("# 値は\n" + cut, "ISO-2022-JP");
  EXPECT_EQ(f.bad_line, 2u);
  EXPECT_EQ(f.bad_line_text(), "line 2 is neither UTF-8 nor ISO-2022-JP");
}

// UTF-8 into another encoding is read whole for its validity only once a repair is found: its
// lines beside ISO-2022-JP ones are mixed; with one byte that is no UTF-8 they are not (the file
// cannot be converted), held whole or read in chunks.
TEST(RepairEscapes, Utf8SourceWithAnInvalidByteIsNoRepair) {
  TempDir tmp;
  const std::string file = alternate("ISO-2022-JP").second;
  std::string big;
  for (int i = 0; i < 80; ++i) big += file;
  write_file(tmp / "in/a.txt", file);
  write_file(tmp / "in/a-broken.txt", file + "\xFF\n" + file);
  write_file(tmp / "in/big.txt", big);
  write_file(tmp / "in/big-broken.txt", big + "\xFF\n" + file);
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "UTF-8", "CP932");
  plan.options.whole_file_limit = 4000;
  plan.options.stream_chunk = 1013;
  RunContext ctx = run_context(plan);
  ctx.repair_candidates = {"ISO-2022-JP"};
  FileConverter conv(ctx);
  for (const char* name : {"a.txt", "a-broken.txt", "big.txt", "big-broken.txt"}) {
    JobFile f;
    f.file_name = name;
    const FileReport r = conv.process(f);
    const bool broken = std::string(name).find("broken") != std::string::npos;
    EXPECT_EQ(r.outcome, broken ? Outcome::cannot_convert : Outcome::mixed) << name << r.note;
    EXPECT_EQ(r.source, broken ? "UTF-8" : "ISO-2022-JP") << name;
    if (broken) {
      ASSERT_TRUE(r.stop.has_value()) << name;
      EXPECT_EQ(r.stop->offset, (name[0] == 'a' ? file : big).size()) << name;
    }
  }
}

// SHIFT_JIS picked by hand stops at the first UTF-8 line; a file of its lines beside UTF-8
// ones is read as its wider label, as detection names it, so \ and ~ stay themselves.
TEST(RepairEscapes, ShiftJisLinesReadAsCp932) {
  TempDir tmp;
  const auto [original, file] = alternate("CP932");
  std::string big_original, big_file;
  for (int i = 0; i < 80; ++i) big_original += original, big_file += file;
  write_file(tmp / "in/a.txt", file);
  write_file(tmp / "in/big.txt", big_file);
  for (bool repair : {false, true}) {
    const std::string out = tmp / (repair ? "fixed" : "plain");
    JobPlan plan = repairing(tmp / "in", out, "SHIFT_JIS", repair);
    plan.options.whole_file_limit = 4000;
    plan.options.stream_chunk = 1013;
    const JobReport r = run_job(plan);
    for (const char* name : {"a.txt", "big.txt"}) {
      const FileReport* e = entry_for(r, name);
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->outcome, repair ? Outcome::converted : Outcome::mixed) << name << e->note;
      EXPECT_EQ(e->source, "CP932") << name;
    }
    EXPECT_EQ(read_file(out + "/a.txt"), repair ? original : file);
    EXPECT_TRUE(read_file(out + "/big.txt") == (repair ? big_original : big_file));
  }
}

namespace {

// One file as a job hands over one that detection left ambiguous.
FileReport process_ambiguous(const std::string& in, const std::string& out, bool repair) {
  JobPlan plan = repairing(in, out, "GBK", repair);
  plan.options.detect = true;
  plan.options.candidates = {"ISO-8859-1", "ISO-8859-2"};
  RunContext ctx = run_context(plan);
  FileConverter conv(ctx);
  JobFile f;
  f.file_name = "a.txt";
  f.evidence = "ambiguous";
  f.identity = Outcome::ambiguous;
  f.identity_note = "not sure which encoding";
  return conv.process(f);
}

}  // namespace

// A file detection left ambiguous is still repaired when the repair does not depend on the
// readings in question: a double-encoded file, or one whose non-UTF-8 lines read clearly as
// one candidate. When those lines alone are still in question, it stays ambiguous.
TEST(RepairAmbiguous, RepairedWhenTheRepairDoesNotDependOnTheReading) {
  TempDir tmp;
  const std::string czech = "Soubor nelze otevřít: přístup odepřen, zkontrolujte oprávnění.";
  struct Case {
    std::string file, repaired;
    Outcome reported;
  };
  std::string misread;
  ASSERT_TRUE(repair::decode_exact(czech, "CP1252", misread));
  const std::vector<Case> cases = {
      {misread, czech, Outcome::double_encoded},
      {"// " + czech + "\n// " + encode_as(czech, "ISO-8859-2") + "\n",
       "// " + czech + "\n// " + czech + "\n", Outcome::mixed},
  };
  for (const Case& c : cases) {
    for (bool repair : {false, true}) {
      const std::string out = tmp / (repair ? "fixed" : "plain");
      write_file(tmp / "in/a.txt", c.file);
      const FileReport r = process_ambiguous(tmp / "in", out, repair);
      EXPECT_EQ(r.outcome, repair ? Outcome::converted : c.reported) << r.note;
      EXPECT_EQ(read_file(out + "/a.txt"), repair ? c.repaired : c.file);
    }
  }
  // Then the report says what read it: the repair, not a detection that settled nothing.
  for (size_t i = 0; i < cases.size(); ++i) {
    write_file(tmp / "in/a.txt", cases[i].file);
    JobReport report;
    report.files.push_back(process_ambiguous(tmp / "in", tmp / "named", true));
    const std::string csv = report_csv(report);
    EXPECT_NE(csv.find(i == 0 ? "read as UTF-8 by undoing its misreading (ambiguous as a whole)"
                              : "read as ISO-8859-2 by its lines that are not UTF-8 (ambiguous as "
                                "a whole)"),
              std::string::npos)
        << csv;
  }
  // "sk\xE8": skè in Latin-1, skč in Latin-2, and nothing to choose (the statistics know
  // that "près" is French: no Czech word has "čs").
  const std::string unsure = "// café crème\nx = 1; // sk\xE8\n";
  write_file(tmp / "in/a.txt", unsure);
  const FileReport r = process_ambiguous(tmp / "in", tmp / "unsure", true);
  EXPECT_EQ(r.outcome, Outcome::ambiguous) << r.note;
  EXPECT_EQ(read_file(tmp / "unsure/a.txt"), unsure);
}

// The lead-character test never turns away a real misreading: every sentence misread through
// every encoding, once and twice over, keeps its run starts; and it turns away clean text of
// scripts a misreading cannot start a run with.
TEST(RepairLeads, NeverRejectsAMisreading) {
  const std::vector<std::string> texts = {"é à ç ß ñ ø å œ € “quoted” — x",
                                          "Не удалось открыть файл",
                                          "无法打开文件，请检查访问权限。",
                                          "ファイルを開けません",
                                          "파일을 읽을 수 없습니다",
                                          "Δεν ήταν δυνατό",
                                          "emoji 😀 ok",
                                          "ﾊﾝｶｸ ｶﾀｶﾅ",
                                          "שלום עולם",
                                          "ไฟล์"};
  size_t tried = 0;
  for (const std::string& text : texts) {
    for (const std::string& enc : repair::misreading_encodings()) {
      std::string once, twice;
      if (!repair::decode_exact(text, enc, once)) continue;
      ++tried;
      EXPECT_TRUE(repair::may_be_misread(repair::run_starts(once, 16, 256), enc))
          << text << " through " << enc;
      if (!repair::decode_exact(once, "CP1252", twice)) continue;
      EXPECT_TRUE(repair::may_be_misread(repair::run_starts(twice, 16, 256), "CP1252")) << text;
    }
  }
  EXPECT_GT(tried, texts.size() * 3);  // most texts misread through several encodings
  const std::u32string chinese = repair::run_starts("无法打开文件", 16, 256);
  ASSERT_EQ(chinese, U"无");
  for (const char* enc : {"CP1252", "ISO-8859-1", "CP1251", "KOI8-R"})
    EXPECT_FALSE(repair::may_be_misread(chinese, enc)) << enc;
  EXPECT_EQ(repair::run_starts("ascii only", 16, 256), U"");
  EXPECT_EQ(repair::run_starts("a é b ü", 16, 256), U"éü");
}

// A file no candidate reads whole, of GBK lines beside UTF-8 ones, is repaired with Detect;
// its report names what read its legacy lines and counts one line as "1 line", whole and in
// chunks. Without repair it is reported mixed with the same counts.
TEST(RepairMixed, UndetectedFileReportsWhatReadIt) {
  TempDir tmp;
  const std::string original =
      "// 这是一个配置文件的说明\n// 打开文件失败时返回错误代码\n"
      "int x;\n// 无法读取用户目录中的设置\n";
  const std::string file = "// 这是一个配置文件的说明\n" +
                           encode_as("// 打开文件失败时返回错误代码\nint x;\n", "GBK") +
                           "// 无法读取用户目录中的设置\n";
  write_file(tmp / "in/a.txt", file);
  for (int run = 0; run < 3; ++run) {
    const std::string out = tmp / ("out" + std::to_string(run));
    JobPlan plan = repairing(tmp / "in", out, "GBK", run != 2);
    plan.options.detect = true;
    plan.options.candidates = {"Chinese"};
    if (run == 1) plan.options.whole_file_limit = 16;
    const JobReport r = run_job(plan);
    const FileReport* e = entry_for(r, "a.txt");
    ASSERT_NE(e, nullptr);
    SCOPED_TRACE("run " + std::to_string(run));
    EXPECT_EQ(e->outcome, run == 2 ? Outcome::mixed : Outcome::converted) << e->note;
    EXPECT_EQ(read_file(out + "/a.txt"), run == 2 ? file : original);
    EXPECT_NE(e->note.find("2 lines UTF-8 (line 1: "), std::string::npos) << e->note;
    const std::string csv = report_csv(r);
    EXPECT_EQ(csv.find(" by undetected"), std::string::npos) << csv;
    EXPECT_NE(e->note.find(", 1 line GBK (line 2: "), std::string::npos) << e->note;
    if (run == 2) continue;
    EXPECT_NE(csv.find("read as GBK by its lines that are not UTF-8 (undetected as a whole)"),
              std::string::npos)
        << csv;
  }
}
