// Valid UTF-8 as evidence, not proof: short GBK text that happens to be valid UTF-8 is read as
// GBK (or left ambiguous), with Detect and without; real UTF-8 text in many scripts stays UTF-8.
#include <gtest/gtest.h>

#include "detect/detect.h"
#include "job/job.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// GBK words from real phrases, and common characters alone, whose GBK bytes are also valid
// UTF-8 (展示 reads "չʾ", 式 "ʽ").
const char* const kWords[] = {"模式", "目录", "状态", "停止", "展示", "筛选", "抓取", "式", "值"};

// Common characters whose GBK bytes read in UTF-8 as a lone letter of another script (校 "У",
// 注 Hebrew "ע", 什 "ʲ"): as plausible either way, a toss-up.
const char* const kTossUps[] = {"校", "注", "学", "小", "位", "什"};

std::string gbk_source(const char* word) {
  return encode_as(std::string("int mode = 0;  // ") + word + "\nreturn mode;\n", "GBK");
}

}  // namespace

// The premise holds (the bytes are valid UTF-8), and the GBK reading wins over the UTF-8 one.
TEST(DetectUtf8, GbkWordsThatAreValidUtf8AreDoubted) {
  for (const char* w : kWords) {
    const std::string bytes = gbk_source(w);
    ASSERT_TRUE(detect::decodes_strictly(bytes, "UTF-8")) << w;
    EXPECT_TRUE(detect::utf8_doubtful(bytes, {"GBK"})) << w;
    EXPECT_TRUE(detect::utf8_doubtful(bytes, every_preset())) << w;
    detect::TreeDetector det({"Chinese"}, "");
    det.add(0, "", bytes);
    det.finish();
    const detect::Decision d = det.decision(0);
    const bool gbk = d.encoding == "GBK" || d.encoding == "GB18030";
    EXPECT_TRUE(gbk || d.evidence == detect::Evidence::ambiguous) << w << ": " << d.encoding;
    EXPECT_NE(d.evidence, detect::Evidence::utf8) << w;
  }
}

// Ordinary UTF-8 text, short or long, in many scripts and with the symbols, emoji and
// decomposed accents real files hold, is never doubted whatever the candidates.
TEST(DetectUtf8, RealUtf8TextStaysUtf8) {
  const char* const texts[] = {
      "// Größe der Datei prüfen",
      "/* café, crème brûlée, à la ligne */",
      "# Ошибка: не удалось открыть файл",
      "// Άγνωστο σφάλμα κατά την ανάγνωση",
      "// 打开文件失败时返回错误",
      "// ファイルを開けませんでした",
      "// 파일을 읽을 수 없습니다",
      "// שגיאה בקריאת הקובץ",
      "// Copyright © 2024 — all rights reserved → see LICENSE",
      "// done ✓ 🎉 50 °C ± 2",
      "// naïve café (decomposed): cafe\xCC\x81 nai\xCC\x88ve",
      "// Łódź, Kraków, Gdańsk; Praha, Brno, Plzeň; Győr",
      "// Tiếng Việt có dấu",
      "// ©",
      "// é",
      "// 中",
      // A few characters in ASCII text, whose GBK readings are common characters too.
      "// delay 5 µs",
      "// α",
      "// x = α * r",
      "// José",
      "// Müller",
      "// 50 °C",
      "// π",
  };
  for (const char* t : texts) {
    const std::string line = std::string("int x = 0;\n") + t + "\nreturn x;\n";
    EXPECT_EQ(detect::utf8_doubt(line, every_preset(), line).verdict, detect::Utf8Verdict::utf8)
        << t;
    EXPECT_EQ(detect::utf8_doubt(line, {"GBK"}, line).verdict, detect::Utf8Verdict::utf8) << t;
  }
  // Past a hundred non-ASCII characters nothing is doubted at all, even unusual text.
  std::string many = "x\n";
  for (int i = 0; i < 60; ++i) many += "ģʽ ";
  EXPECT_FALSE(detect::utf8_doubtful(many, every_preset()));
  EXPECT_TRUE(detect::utf8_doubtful("x // ģʽ\n", every_preset()));
}

// In a job with or without Detect, the GBK comment is converted from GBK, never left as
// "already UTF-8" (nor, with Detect, refused as ambiguous: its GBK reading is clear); real
// UTF-8 files beside it stay UTF-8. The same for files too big to read whole, in chunks.
TEST(DetectUtf8, JobsConvertTheGbkComments) {
  TempDir tmp;
  for (size_t i = 0; i < std::size(kWords); ++i)
    write_file(tmp / ("in/w" + std::to_string(i) + ".cpp"), gbk_source(kWords[i]));
  const std::string utf8 = "// Größe der Datei prüfen\n";
  write_file(tmp / "in/real.cpp", utf8);
  const std::string few = "double r = 0.5;  // α, 5 µs, José\n";
  write_file(tmp / "in/few.cpp", few);
  for (int run = 0; run < 4; ++run) {
    const bool with_detect = run % 2 == 1, streamed = run >= 2;
    const std::string out = tmp / ("out" + std::to_string(run));
    JobPlan plan = make_plan(tmp / "in", out, "GBK", "UTF-8");
    if (streamed) plan.options.whole_file_limit = 8;
    plan.options.detect = with_detect;
    plan.options.candidates = {"Chinese"};
    const JobReport r = run_job(plan);
    for (size_t i = 0; i < std::size(kWords); ++i) {
      const std::string name = "w" + std::to_string(i) + ".cpp";
      const FileReport* f = entry_for(r, name);
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->outcome, Outcome::converted) << name << " run " << run << ": " << f->note;
      EXPECT_TRUE(f->source == "GBK" || f->source == "GB18030") << f->source;
      EXPECT_EQ(f->evidence, with_detect ? "file statistics" : "chosen") << name;
      EXPECT_EQ(read_file(out + "/" + name), iconv_command(gbk_source(kWords[i]), "GBK", "UTF-8"))
          << kWords[i];
    }
    EXPECT_EQ(entry_for(r, "real.cpp")->outcome, Outcome::already_utf8);
    EXPECT_EQ(read_file(out + "/real.cpp"), utf8);
    EXPECT_EQ(entry_for(r, "few.cpp")->outcome, Outcome::already_utf8);
    EXPECT_EQ(read_file(out + "/few.cpp"), few);
  }
}

// A toss-up is refused, with Detect and without, whole and in chunks: kept byte for byte, and
// the note shows both readings.
TEST(DetectUtf8, TossUpsAreRefused) {
  TempDir tmp;
  for (size_t i = 0; i < std::size(kTossUps); ++i) {
    const std::string bytes = gbk_source(kTossUps[i]);
    ASSERT_TRUE(detect::decodes_strictly(bytes, "UTF-8")) << kTossUps[i];
    const detect::Utf8Doubt doubt = detect::utf8_doubt(bytes, {"GBK"}, bytes);
    EXPECT_EQ(doubt.verdict, detect::Utf8Verdict::toss_up) << kTossUps[i];
    EXPECT_FALSE(detect::utf8_doubtful(bytes, {"GBK"})) << kTossUps[i];
    write_file(tmp / ("in/t" + std::to_string(i) + ".cpp"), bytes);
  }
  // In chunks only its lines above ASCII are weighed: the line named is still the file's.
  const std::string third = "int a;\nint b;\n" + gbk_source(kTossUps[0]);
  write_file(tmp / "in/third.cpp", third);
  // Into another target a toss-up read as UTF-8 would be as much a guess (runs 4 and 5).
  for (int run = 0; run < 6; ++run) {
    const bool with_detect = run % 2 == 1 && run < 4, streamed = run == 2 || run == 3 || run == 5;
    const std::string out = tmp / ("out" + std::to_string(run));
    JobPlan plan = make_plan(tmp / "in", out, "GBK", run < 4 ? "UTF-8" : "GB18030");
    if (streamed) plan.options.whole_file_limit = 8;
    plan.options.detect = with_detect;
    const JobReport r = run_job(plan);
    for (size_t i = 0; i < std::size(kTossUps); ++i) {
      const std::string name = "t" + std::to_string(i) + ".cpp";
      const FileReport* f = entry_for(r, name);
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->outcome, Outcome::ambiguous) << name << " run " << run << ": " << f->note;
      const std::string note = f->outcome == Outcome::ambiguous ? f->note : "";
      EXPECT_NE(note.find(kTossUps[i]), std::string::npos) << note;
      EXPECT_NE(note.find(gbk_source(kTossUps[i]).substr(18, 2)), std::string::npos) << note;
      EXPECT_EQ(read_file(out + "/" + name), gbk_source(kTossUps[i])) << name;
    }
    const FileReport* f = entry_for(r, "third.cpp");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->outcome, Outcome::ambiguous);
    EXPECT_EQ(f->note.rfind("line 3:", 0), 0u) << f->note;
    EXPECT_EQ(read_file(out + "/third.cpp"), third);
  }
}

// Into a target other than UTF-8, valid UTF-8 text is converted from UTF-8 (it was read as the
// From encoding and written garbled, reported converted), while a GBK comment that happens to
// be valid UTF-8 is still the From encoding's; whole and in chunks.
TEST(DetectUtf8, Utf8TextIntoOtherTargetsIsReadAsUtf8) {
  TempDir tmp;
  const std::string russian = "// Проверка размера файла перед записью\nint x;\n";
  const std::string chinese = "/* 读取配置文件，然后检查每一个目录的状态 */\n";
  const std::string gbk = gbk_source(kWords[0]);
  std::string long_text;  // more lines above ASCII than the doubt looks at
  for (int i = 0; i < 400; ++i) long_text += "Строка " + std::to_string(i) + ": всё в порядке\n";
  write_file(tmp / "in/long.txt", long_text);
  write_file(tmp / "in/ru.cpp", russian);
  write_file(tmp / "in/zh.cpp", chinese);
  write_file(tmp / "in/gbk.cpp", gbk);
  int run = 0;
  for (const char* target : {"UTF-16LE", "GB18030"}) {
    for (const bool streamed : {false, true}) {
      const std::string out = tmp / ("out" + std::to_string(run++));
      JobPlan plan = make_plan(tmp / "in", out, "GBK", target);
      if (streamed) plan.options.whole_file_limit = 8;
      const JobReport r = run_job(plan);
      SCOPED_TRACE(std::string(target) + (streamed ? " in chunks" : " whole"));
      for (const auto& [name, text] :
           {std::pair{"ru.cpp", russian}, {"zh.cpp", chinese}, {"long.txt", long_text}}) {
        const FileReport* f = entry_for(r, name);
        ASSERT_NE(f, nullptr) << name;
        EXPECT_EQ(f->outcome, Outcome::converted) << name;
        EXPECT_EQ(f->source, "UTF-8") << name;
        const std::string want = iconv_command(text, "UTF-8", target);
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(read_file(out + "/" + name), want) << name;
      }
      const FileReport* g = entry_for(r, "gbk.cpp");
      ASSERT_NE(g, nullptr);
      EXPECT_EQ(g->source, "GBK");
      EXPECT_EQ(read_file(out + "/gbk.cpp"), iconv_command(gbk, "GBK", target));
    }
  }
}
