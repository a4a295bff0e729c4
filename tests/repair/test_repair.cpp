// Repairs: double-encoded text through every legacy encoding (once and twice over), real text
// that only looks double-encoded, files of two encodings (whole and in chunks of a big file),
// and a line that neither encoding reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/detect.h"
#include "detect/detect_model.h"
#include "job/job.h"
#include "repair/repair_double.h"
#include "repair/repair_mixed.h"
#include "repair/repair_script.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// Real sentences of program messages, UTF-8.
const std::vector<std::string> kSentences = {
    "Le fichier n'a pas pu être ouvert : vérifiez les droits d'accès à ce répertoire.",
    "Die Datei konnte nicht geöffnet werden, überprüfen Sie die Zugriffsrechte.",
    "Não foi possível abrir o arquivo; verifique as permissões de acesso.",
    "Не удалось открыть файл: проверьте права доступа к каталогу.",
    "无法打开文件，请检查访问权限。",
    "ファイルを開けませんでした。アクセス権を確認してください。",
    "Δεν ήταν δυνατό το άνοιγμα του αρχείου.",
    "파일을 읽을 수 없습니다",
    "中文",
};

// What a tool that read UTF-8 `text` as `encoding` wrote out as UTF-8; "" when that reading
// is not strict (such a tool would have lost bytes, and nothing can be undone exactly).
std::string misread(const std::string& text, const std::string& encoding) {
  bool ok = false;
  const std::string out = iconv_command(text, encoding, "UTF-8", &ok);
  return ok ? out : std::string();
}

std::string lines(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& l : list) out += l + "\n";
  return out;
}

}  // namespace

// Every encoding of the list: each sentence it can misread is found, named by a misreading
// that makes the same file, and repaired to exactly the original.
TEST(RepairDouble, EveryEncodingOnceOver) {
  for (const std::string& enc : repair::misreading_encodings()) {
    size_t tried = 0;
    for (const std::string& text : kSentences) {
      const std::string broken = misread(text, enc);
      if (broken.empty() || broken == text) continue;
      ++tried;
      const repair::DoubleEncoding found = repair::find_double_encoding(broken);
      ASSERT_EQ(found.chain.size(), 1u) << enc << ": " << broken;
      EXPECT_EQ(found.repaired, text) << enc;
      EXPECT_EQ(misread(text, found.chain[0]), broken) << enc << " named " << found.chain[0];
      EXPECT_EQ(repair::chain_text(found.chain), "UTF-8 read as " + found.chain[0]);
    }
    EXPECT_GT(tried, 0u) << "no sentence misreads through " << enc;
  }
}

TEST(RepairDouble, TwiceOverAndTwoEncodings) {
  const std::string fr = kSentences[0];
  const std::string twice = misread(misread(fr, "CP1252"), "CP1252");
  const repair::DoubleEncoding a = repair::find_double_encoding(twice);
  EXPECT_EQ(a.repaired, fr);
  EXPECT_EQ(repair::chain_text(a.chain), "UTF-8 read as CP1252, twice");

  const std::string ru = kSentences[3];
  const std::string two = misread(misread(ru, "CP1251"), "CP1252");
  ASSERT_FALSE(two.empty());
  const repair::DoubleEncoding b = repair::find_double_encoding(two);
  EXPECT_EQ(b.repaired, ru);
  EXPECT_EQ(repair::chain_text(b.chain), "UTF-8 read as CP1251, then as CP1252");
  std::string undone;
  ASSERT_TRUE(repair::undo_chain(two, b.chain, undone));
  EXPECT_EQ(undone, ru);
}

// Real text with characters that a misreading also makes ("Ã", "Â", "ï»¿"-like runs) and clean
// text of every script is left alone, as are GBK words whose bytes happen to be UTF-8.
TEST(RepairDouble, TextThatOnlyLooksDoubleEncoded) {
  const std::vector<std::string> clean = {
      "SÃO PAULO: A CIDADE QUE NÃO PARA. Ã vista, pagamento à vista.",
      "Ông Ã đã đến Hà Nội hôm qua; Ã là tên của ông ấy.",
      "Â© 2024 Société Générale — tous droits réservés",
      "模式",
      "目录 状态 停止",
  };
  for (const std::string& text : clean) {
    const repair::DoubleEncoding found = repair::find_double_encoding(text);
    EXPECT_TRUE(found.chain.empty()) << text << " -> " << found.repaired;
  }
  for (const std::string& text : kSentences)
    EXPECT_TRUE(repair::find_double_encoding(text).chain.empty()) << text;
}

// An undoing exact by chance is no repair where it makes no text (a combining mark on a control
// byte), or where the one character above ASCII stands apart from any ASCII letter and its
// repair does not read as text on its own (// 隆 is a character as much as a misread ¡): this
// tool's own output of one CP932 character (譁, 枚) among control bytes was once "repaired" by
// the next run, and one Chinese character alone in 3 % of comments. A misread letter inside a
// word or that reads as a word, and misreadings of more, are still found.
TEST(RepairDouble, ChanceUndoingIsNoRepair) {
  const std::string controls(9, '\x19');
  for (const std::string& text : std::vector<std::string>{
           controls + "譁" + std::string(48, 'r'), "枚  \x13\x13", "// 隆\n", "x = \"簿\";"}) {
    const repair::DoubleEncoding found = repair::find_double_encoding(text);
    EXPECT_TRUE(found.chain.empty()) << text << " -> " << found.repaired;
  }
  for (const std::string text :
       {"café", "¡Hola!", "órdenes", "Il file è molto vecchio.", "Да", "über", "// 你好"})
    EXPECT_EQ(repair::find_double_encoding(misread(text, "GBK")).repaired, text);
}

namespace {

// Lines alternately in UTF-8 and in `encoding`, as the original (UTF-8) text and the file.
struct TwoEncodings {
  std::string original, file;
};
TwoEncodings two_encodings(const char* const* texts, size_t count, const std::string& encoding) {
  TwoEncodings t;
  for (size_t i = 0; i < count; ++i) {
    const std::string line = std::string("// ") + texts[i] + " " + std::to_string(i);
    t.original += line + "\n";
    t.file += (i % 2 == 0 ? encode_as(line, encoding) : line) + "\n";
  }
  return t;
}

JobPlan repairing(const std::string& in, const std::string& out, const char* from, bool repair) {
  JobPlan plan = make_plan(in, out, from, "UTF-8");
  plan.options.repair = repair;
  return plan;
}

}  // namespace

TEST(RepairMixed, LinesOfEachEncodingCountedAndRead) {
  const TwoEncodings gbk = two_encodings(kSimplified, 24, "GBK");
  const repair::MixedFacts f = repair::scan_mixed(gbk.file, "GBK");
  EXPECT_TRUE(f.mixed());
  EXPECT_EQ(f.utf8_lines, 12u);
  EXPECT_EQ(f.legacy_lines, 12u);
  EXPECT_EQ(f.first_legacy_line, 1u);
  EXPECT_EQ(f.first_utf8_line, 2u);
  EXPECT_EQ(f.first_legacy, std::string("// ") + kSimplified[0] + " 0");
  std::string text;
  repair::LineSplitter split;
  const repair::LineSplitter::Take take = [&](std::string_view l) {
    EXPECT_TRUE(repair::line_to_utf8(l, "GBK", text));
  };
  split.feed(gbk.file, take);
  split.finish(take);
  EXPECT_EQ(text, gbk.original);
  // A clean GBK file whose short lines are valid UTF-8 by chance ("模式" is C4 A3 CA BD) is
  // one encoding, not two.
  const std::string clean = encode_as(lines({"// 模式", "// 目录", "// 状态", "// 停止了"}), "GBK");
  EXPECT_FALSE(repair::scan_mixed(clean, "GBK").mixed());
  EXPECT_EQ(repair::scan_mixed(clean, "GBK").utf8_lines, 0u);
  // In chunks, a line longer than what is kept of one that is no UTF-8 (GBK, or valid until a
  // byte no UTF-8 has) before a UTF-8 line, or before none: the line after it is still seen; a
  // long line of UTF-8 is one.
  const std::string gbk_run = encode_as(std::string(30000, 'x') + "模式", "GBK");
  const std::string long_gbk = gbk_run + gbk_run + gbk_run + "\n";
  const std::string long_cut =
      std::string(70000, 'y') + "中文\xFF" + std::string(70000, 'z') + "\n";
  const std::string long_utf8 = std::string(70000, 'w') + "中文，一行很长\n";  // kept whole
  std::string long_words;  // a UTF-8 line across chunks
  for (int i = 0; i < 600; ++i) long_words += "中文";
  for (const std::string& first : {long_gbk, long_cut, long_utf8}) {
    for (const bool utf8_after : {true, false}) {
      const std::string all = first + "// x\n" + (utf8_after ? "// " + long_words + "\n" : "") +
                              encode_as("中\n", "GBK");
      for (size_t chunk : {size_t{1000}, size_t{4096}}) {
        int err = 0;
        const repair::MixedFacts m = repair::scan_mixed(
            [&](const auto& give) {
              for (size_t at = 0; at < all.size(); at += chunk)
                if (!give(std::string_view(all).substr(at, chunk))) break;
              return 0;
            },
            "GBK", err);
        EXPECT_EQ(m.utf8_lines, (utf8_after ? 1u : 0u) + (first == long_utf8 ? 1u : 0u))
            << chunk << " " << first.size();
      }
    }
  }
}

// Through the job: reported without the opt-in (copied unchanged), written as the original
// text with it, a whole file and one big enough to be read in chunks that cut its lines.
TEST(RepairMixed, JobReportsThenRepairsWholeAndInChunks) {
  TempDir tmp;
  const TwoEncodings big5 = two_encodings(kTraditional, 24, "BIG5");
  std::string big_original, big_file;
  for (int i = 0; i < 60; ++i) {
    big_original += big5.original;
    big_file += big5.file;
  }
  write_file(tmp / "in/small.txt", big5.file);
  write_file(tmp / "in/big.txt", big_file);
  for (bool repair : {false, true}) {
    JobPlan plan = repairing(tmp / "in", tmp / (repair ? "fixed" : "plain"), "BIG5", repair);
    plan.options.whole_file_limit = 8000;
    plan.options.stream_chunk = 997;  // a prime: line ends fall everywhere inside chunks
    const JobReport r = run_job(plan);
    for (const char* name : {"small.txt", "big.txt"}) {
      const FileReport* e = entry_for(r, name);
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->source, "BIG5");
      EXPECT_NE(e->note.find(std::string(name) == "big.txt" ? "720 lines UTF-8" : "12 lines UTF-8"),
                std::string::npos)
          << e->note;
      if (!repair) {
        EXPECT_EQ(e->outcome, Outcome::mixed) << name;
        EXPECT_EQ(read_file(tmp / "plain/" + name), read_file(tmp / "in/" + name));
      } else {
        EXPECT_EQ(e->outcome, Outcome::converted) << name;
      }
    }
  }
  EXPECT_EQ(read_file(tmp / "fixed/small.txt"), big5.original);
  EXPECT_EQ(read_file(tmp / "fixed/big.txt"), big_original);
}

// A line that is neither UTF-8 nor the legacy encoding is named, and nothing is converted; also
// when the conversion stops at it before any UTF-8 line is read.
TEST(RepairMixed, LineNeitherEncodingReads) {
  TempDir tmp;
  const TwoEncodings gbk = two_encodings(kSimplified, 6, "GBK");
  const std::string file = gbk.file + "// \x80\xFF broken\n" + gbk.file;
  write_file(tmp / "in/a.c", file);
  std::string big;
  for (int i = 0; i < 40; ++i) big += gbk.file;
  big += "\x80\xFF\n";
  write_file(tmp / "in/big.c", big);
  // Read in chunks, its conversion stops at its first line, chunks before its UTF-8 lines.
  std::string late = "\x80\xFF\n";
  for (int i = 0; i < 90; ++i) late += "int x" + std::to_string(i) + " = 0;  // plain ASCII\n";
  late += gbk.file;
  write_file(tmp / "in/late.c", late);
  JobPlan plan = repairing(tmp / "in", tmp / "out", "GBK", true);
  plan.options.whole_file_limit = 2000;
  plan.options.stream_chunk = 333;
  const JobReport r = run_job(plan);
  const FileReport* e = entry_for(r, "a.c");
  EXPECT_EQ(e->outcome, Outcome::cannot_convert);
  EXPECT_EQ(e->note, "line 7 is neither UTF-8 nor GBK");
  EXPECT_EQ(read_file(tmp / "out/a.c"), file);
  const FileReport* b = entry_for(r, "big.c");
  EXPECT_EQ(b->outcome, Outcome::cannot_convert);
  EXPECT_EQ(b->note, "line 241 is neither UTF-8 nor GBK");
  EXPECT_EQ(read_file(tmp / "out/big.c"), big);
  const FileReport* l = entry_for(r, "late.c");
  EXPECT_EQ(l->outcome, Outcome::cannot_convert);
  EXPECT_EQ(l->note, "line 1 is neither UTF-8 nor GBK");
  EXPECT_EQ(read_file(tmp / "out/late.c"), late);
}

// A double-encoded file through the job: reported and copied unchanged, or repaired with the
// opt-in, the whole file and in chunks; a file only partly undoable is left as UTF-8.
TEST(RepairDouble, JobReportsThenRepairsWholeAndInChunks) {
  TempDir tmp;
  std::string original;
  for (int i = 0; i < 200; ++i) original += kSentences[static_cast<size_t>(i % 4)] + "\n";
  write_file(tmp / "in/small.txt", misread(kSentences[0] + "\n", "CP1252"));
  write_file(tmp / "in/big.txt", misread(original, "CP1251"));
  // The last line was never misread: undoing it is not exact, so nothing is proposed.
  write_file(tmp / "in/partly.txt", misread(kSentences[0], "CP1252") + "\n" + kSentences[4]);
  for (bool repair : {false, true}) {
    JobPlan plan = repairing(tmp / "in", tmp / (repair ? "fixed" : "plain"), "GBK", repair);
    plan.options.whole_file_limit = 4000;
    plan.options.stream_chunk = 1001;
    const JobReport r = run_job(plan);
    const FileReport* small = entry_for(r, "small.txt");
    const FileReport* big = entry_for(r, "big.txt");
    EXPECT_EQ(small->outcome, repair ? Outcome::converted : Outcome::double_encoded);
    EXPECT_EQ(big->outcome, repair ? Outcome::converted : Outcome::double_encoded);
    EXPECT_EQ(small->note, std::string(repair ? "repaired: " : "") + "UTF-8 read as CP1252");
    EXPECT_EQ(big->note, std::string(repair ? "repaired: " : "") + "UTF-8 read as CP1251");
    EXPECT_EQ(entry_for(r, "partly.txt")->outcome, Outcome::already_utf8);
  }
  EXPECT_EQ(read_file(tmp / "plain/big.txt"), read_file(tmp / "in/big.txt"));
  EXPECT_EQ(read_file(tmp / "fixed/small.txt"), kSentences[0] + "\n");
  EXPECT_EQ(read_file(tmp / "fixed/big.txt"), original);
}

// UTF-8 converted into another encoding is checked the same: a double-encoded file is reported
// and left as read, or repaired into the target, whole and in chunks; plain UTF-8 is converted.
TEST(RepairDouble, FromUtf8IntoAnotherEncoding) {
  const struct {
    const char* target;
    size_t sentence;
    const char* misreading;
  } cases[] = {{"CP1252", 0, "CP1252"}, {"UTF-16LE", 0, "CP1252"}, {"CP1251", 3, "CP1251"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const std::string line = kSentences[c.sentence] + "\n";
    std::string original;
    for (int i = 0; i < 60; ++i) original += line;
    TempDir tmp;
    write_file(tmp / "in/small.txt", misread(line, c.misreading));
    write_file(tmp / "in/big.txt", misread(original, c.misreading));
    write_file(tmp / "in/plain.txt", original);
    for (bool repair : {false, true}) {
      JobPlan plan = make_plan(tmp / "in", tmp / (repair ? "fixed" : "plain"), "UTF-8", c.target);
      plan.options.repair = repair;
      plan.options.whole_file_limit = 4000;
      plan.options.stream_chunk = 1001;
      const JobReport r = run_job(plan);
      for (const char* name : {"small.txt", "big.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(entry_for(r, name)->outcome,
                  repair ? Outcome::converted : Outcome::double_encoded);
        EXPECT_EQ(entry_for(r, name)->note,
                  std::string(repair ? "repaired: " : "") + "UTF-8 read as " + c.misreading);
      }
      EXPECT_EQ(entry_for(r, "plain.txt")->outcome, Outcome::converted);
    }
    EXPECT_EQ(read_file(tmp / "plain/big.txt"), read_file(tmp / "in/big.txt"));
    bool ok = false;
    const std::string want = iconv_command(original, "UTF-8", c.target, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(read_file(tmp / "fixed/big.txt"), want);
    EXPECT_EQ(read_file(tmp / "fixed/plain.txt"), want);
    EXPECT_EQ(read_file(tmp / "fixed/small.txt"), iconv_command(line, "UTF-8", c.target, &ok));
    ASSERT_TRUE(ok);
  }
}

// Repaired text takes the run's line ends like any converted file: whole and in chunks, a
// double-encoded file and one of two encodings, to UTF-8 (and the latter to UTF-16LE).
TEST(RepairLineEnds, RepairedTextTakesTheRunsLineEnds) {
  TempDir tmp;
  const TwoEncodings gbk = two_encodings(kSimplified, 24, "GBK");
  std::string double_original, big_mixed, big_original;
  for (int i = 0; i < 100; ++i) double_original += kSentences[static_cast<size_t>(i % 4)] + "\n";
  for (int i = 0; i < 30; ++i) {
    big_mixed += gbk.file;
    big_original += gbk.original;
  }
  write_file(tmp / "in/double.txt", misread(double_original, "CP1251"));
  const std::string small_original = kSentences[0] + "\n" + kSentences[1] + "\n";
  write_file(tmp / "in/small.txt", misread(small_original, "CP1252"));
  write_file(tmp / "in/mixed.c", gbk.file);
  write_file(tmp / "in/big_mixed.c", big_mixed);
  const auto crlf = [](const std::string& lf) {
    std::string out;
    for (char c : lf) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
  };
  for (const char* target : {"UTF-8", "UTF-16LE"}) {
    const std::string out = tmp / target;
    JobPlan plan = make_plan(tmp / "in", out, "GBK", target);
    plan.options.repair = true;
    plan.options.eol = EolMode::crlf;
    plan.options.whole_file_limit = 8000;  // big_mixed and double.txt are read in chunks
    plan.options.stream_chunk = 997;
    const JobReport r = run_job(plan);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"double.txt", double_original},
        {"small.txt", small_original},
        {"mixed.c", gbk.original},
        {"big_mixed.c", big_original}};
    for (const auto& [name, original] : expected) {
      // A UTF-8 file is double-encoded only for a UTF-8 target; for another it is a GBK one.
      if (std::string(target) != "UTF-8" && name.find("mixed") == std::string::npos) continue;
      const FileReport* e = entry_for(r, name);
      ASSERT_NE(e, nullptr) << name;
      EXPECT_EQ(e->outcome, Outcome::converted) << target << " " << name << ": " << e->note;
      EXPECT_TRUE(read_file(out + "/" + name) == encode_as(crlf(original), target))
          << target << " " << name;
      EXPECT_TRUE(e->eol_counted) << name;
      EXPECT_EQ(e->eol_after.crlf, e->eol_before.lf) << name;
      EXPECT_GT(e->eol_after.crlf, 0u) << name;
    }
  }
}

namespace {

const std::vector<std::string> kEveryPreset = {
    "Chinese", "Japanese", "Korean", "Cyrillic", "Western",    "Central European",
    "Greek",   "Turkish",  "Hebrew", "Arabic",   "Vietnamese", "Thai"};

// Real sentences of program messages, a language each, for files of two encodings.
struct Language {
  const char* legacy;
  std::vector<std::string> lines;
};
const std::vector<Language> kLanguages = {
    {"CP1255",
     {"לא ניתן לפתוח את הקובץ", "בדוק את הרשאות הגישה לתיקייה", "הקובץ נשמר בהצלחה",
      "אין מספיק מקום בדיסק", "הפעולה בוטלה על ידי המשתמש", "שם הקובץ אינו חוקי"}},
    {"CP1251",
     {"Не удалось открыть файл", "Проверьте права доступа к каталогу", "Файл успешно сохранён",
      "Недостаточно места на диске", "Операция отменена пользователем", "Недопустимое имя файла"}},
    {"EUC-KR",
     {"파일을 열 수 없습니다", "그림", "디렉터리 접근 권한을 확인하십시오", "테마",
      "디스크 공간이 부족합니다", "사용자가 작업을 취소했습니다"}},
};

}  // namespace

// The script of a file's UTF-8 lines names the family of its other lines; Latin and a blend
// of scripts name none.
TEST(RepairScript, UTF8LinesNameTheFamily) {
  using detect::Family;
  EXPECT_EQ(repair::families_of_script("לא ניתן לפתוח את הקובץ"),
            std::vector<Family>{Family::hebrew});
  EXPECT_EQ(repair::families_of_script("Не удалось открыть файл: 3 ошибки"),
            std::vector<Family>{Family::cyrillic});
  EXPECT_EQ(repair::families_of_script("파일을 열 수 없습니다"),
            std::vector<Family>{Family::korean});
  EXPECT_EQ(repair::families_of_script("ファイルを開けません"),
            std::vector<Family>{Family::japanese});
  EXPECT_EQ(repair::families_of_script("无法打开文件"),
            (std::vector<Family>{Family::gb, Family::big5, Family::japanese}));
  EXPECT_TRUE(repair::families_of_script("Le fichier n'a pas pu être ouvert").empty());
  EXPECT_TRUE(repair::families_of_script("© 2024 — “quoted” …").empty());
  EXPECT_TRUE(repair::families_of_script("Файл ファイル file αρχείο").empty());
  EXPECT_TRUE(repair::families_of_script("그림").empty());  // too few letters to say
  EXPECT_EQ(repair::families_of_script("그림", 1), std::vector<Family>{Family::korean});
}

// Lines alternately in UTF-8 and a legacy encoding, detected among every preset: the legacy
// lines are read in their own language's encoding (not Greek for Hebrew, nor a Latin one for
// Russian) and a short UTF-8 line of two Hangul stays UTF-8; written exactly as the original.
// Among candidates that lack their encoding they are no candidate's.
TEST(RepairMixed, DetectedAmongEveryPresetByTheScriptOfTheUTF8Lines) {
  TempDir tmp;
  std::vector<std::pair<std::string, std::string>> expected;
  for (const Language& lang : kLanguages) {
    std::string file, original;
    for (size_t i = 0; i < lang.lines.size(); ++i) {
      const std::string line = "msg(\"" + lang.lines[i] + "\");\n";
      original += line;
      file += i % 2 == 0 ? encode_as(line, lang.legacy) : line;
    }
    const std::string name = std::string(lang.legacy) + ".c";
    write_file(tmp / ("in/" + name), file);
    expected.emplace_back(name, original);
    const std::string legacy =
        repair::legacy_of(file, detect::expand_candidates(kEveryPreset), "GBK");
    EXPECT_EQ(detect::family_of(legacy), detect::family_of(lang.legacy)) << legacy;
    EXPECT_EQ(repair::legacy_of(file, detect::expand_candidates({"Western", "Central European"}),
                                "CP1252"),
              "")
        << lang.legacy;
  }
  JobPlan plan = repairing(tmp / "in", tmp / "out", "GBK", true);
  plan.options.detect = true;
  plan.options.candidates = kEveryPreset;
  const JobReport r = run_job(plan);
  for (const auto& [name, original] : expected) {
    const FileReport* e = entry_for(r, name);
    ASSERT_NE(e, nullptr) << name;
    EXPECT_EQ(e->outcome, Outcome::converted) << name << ": " << e->note;
    EXPECT_EQ(read_file(tmp / ("out/" + name)), original) << name << ": " << e->note;
  }
}

// Valid UTF-8 that the run's source reads as text can be double-encoded all the same: CJK
// text misread through ISO-8859-1 is pairs like "ä¸" that GBK reads as Chinese. The exact
// undoing wins over that reading, in files read whole and in chunks.
TEST(RepairDouble, MisreadingThatReadsAsTheSource) {
  TempDir tmp;
  const std::vector<std::string> originals = {
      "import sys\n\nTEXT_0 = \"가능\"\n", "Khơ-me\nViết ước hiệu\nGiáo hội Ai Cập\n",
      "    /**\n     * Tclsh 設定了下列 Tcl 變數:\n     */\n"};
  std::vector<std::string> texts = originals;
  std::string code;  // a big file: ASCII code, then the same short text
  for (int i = 0; i < 300; ++i) code += "    step(" + std::to_string(i) + ");\n";
  texts.push_back(code + originals[0]);
  for (size_t i = 0; i < texts.size(); ++i)
    write_file(tmp / ("in/" + std::to_string(i) + ".txt"), misread(texts[i], "ISO-8859-1"));
  for (bool repair : {false, true}) {
    const std::string out = tmp / (repair ? "fixed" : "plain");
    JobPlan plan = repairing(tmp / "in", out, "GBK", repair);
    plan.options.whole_file_limit = 4000;  // the last is read in chunks
    plan.options.stream_chunk = 1001;
    const JobReport r = run_job(plan);
    for (size_t i = 0; i < texts.size(); ++i) {
      const std::string name = std::to_string(i) + ".txt";
      const FileReport* e = entry_for(r, name);
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->outcome, repair ? Outcome::converted : Outcome::double_encoded) << e->note;
      EXPECT_EQ(e->note, std::string(repair ? "repaired: " : "") + "UTF-8 read as ISO-8859-1");
      EXPECT_EQ(read_file(out + "/" + name), repair ? texts[i] : read_file(tmp / ("in/" + name)))
          << name;
    }
  }
}
