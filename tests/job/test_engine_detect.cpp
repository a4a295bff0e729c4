// Detection inside the job: the evidence order on a real tree, pooled tiny files, two
// folders in two encodings, undetectable and ambiguous files, previews and overrides, the
// narrow-label warnings and hint.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/app_state.h"
#include "job/job.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

JobPlan detecting(const std::string& in, const std::string& out, const char* preferred) {
  JobPlan plan = make_plan(in, out, preferred, "UTF-8");
  plan.options.detect = true;
  plan.options.candidates = {"Chinese"};
  return plan;
}

bool said(const JobRecorder& rec, const std::string& text) {
  return std::any_of(rec.messages.begin(), rec.messages.end(),
                     [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

// Every file's log lines, in the order the files finished.
std::vector<std::string> file_lines(const JobRecorder& rec) {
  std::vector<std::string> all;
  for (const auto& lines : rec.file_lines) all.insert(all.end(), lines.begin(), lines.end());
  return all;
}

// A tree of tiny GBK sources (one comment each) and 24 Big5 ones in another folder.
void make_two_folder_tree(const std::string& root) {
  for (int i = 0; i < 24; ++i) {
    write_file(root + "/app/f" + std::to_string(i) + ".cpp",
               source_with_comment(kSimplified[i], "GBK", i));
    write_file(root + "/vendor/lib/g" + std::to_string(i) + ".cpp",
               source_with_comment(kTraditional[i], "BIG5", i));
  }
}

}  // namespace

// Tiny files in two folders, GBK and Big5: every file is read with its own folder's encoding,
// so every output is what iconv makes with the right source.
TEST(EngineDetect, TwoFoldersEachRight) {
  TempDir tmp;
  make_two_folder_tree(tmp / "in");
  JobRecorder rec;
  const JobReport r = run_job(detecting(tmp / "in", tmp / "out", "GBK"), &rec);
  for (int i = 0; i < 24; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(read_file(tmp / ("out/app/f" + n + ".cpp")),
              source_with_comment(kSimplified[i], "UTF-8", i))
        << entry_for(r, "app/f" + n + ".cpp")->source;
    EXPECT_EQ(read_file(tmp / ("out/vendor/lib/g" + n + ".cpp")),
              source_with_comment(kTraditional[i], "UTF-8", i))
        << entry_for(r, "vendor/lib/g" + n + ".cpp")->source;
  }
  EXPECT_TRUE(said(rec, "Detecting each file's encoding among GB18030, GBK, BIG5"));
  EXPECT_TRUE(said(rec, "Detected: "));
}

// The evidence order on a real tree: a mark, then strict UTF-8, then ASCII, the NUL bytes of
// unmarked UTF-32 and UTF-16 (not binary), then statistics; each decision carries its evidence
// and a confidence.
TEST(EngineDetect, EvidenceOrder) {
  TempDir tmp;
  const std::string text = chinese_text(3000);
  write_file(tmp / "in/marked.txt", "\xFF\xFE" + encode_as(text, "UTF-16LE"));
  const char* const wide[] = {"UTF-32LE", "UTF-32BE", "UTF-16BE", "UTF-16LE"};
  for (const char* form : wide)
    write_file(tmp / (std::string("in/") + form), encode_as(text, form));
  write_file(tmp / "in/utf8.cpp", source_with_comment(kSimplified[0], "UTF-8"));
  write_file(tmp / "in/plain.h", "int x;\n");
  write_file(tmp / "in/long.txt", encode_as(text, "GBK"));
  const JobReport r = run_job(detecting(tmp / "in", tmp / "out", "BIG5"));
  const FileReport* marked = entry_for(r, "marked.txt");
  EXPECT_EQ(marked->evidence, "mark");
  EXPECT_EQ(marked->source, "UTF-16LE");
  EXPECT_EQ(read_file(tmp / "out/marked.txt"), text);  // the mark goes with the source
  EXPECT_EQ(entry_for(r, "utf8.cpp")->evidence, "utf8");
  EXPECT_EQ(entry_for(r, "utf8.cpp")->outcome, Outcome::already_utf8);
  EXPECT_EQ(entry_for(r, "plain.h")->outcome, Outcome::ascii);
  const FileReport* gbk = entry_for(r, "long.txt");
  EXPECT_TRUE(gbk->source == "GBK" || gbk->source == "GB18030") << gbk->source;
  EXPECT_EQ(gbk->evidence, "file statistics");
  EXPECT_GE(gbk->confidence, 80);
  EXPECT_EQ(read_file(tmp / "out/long.txt"), text);
  for (const char* form : wide) {
    EXPECT_EQ(entry_for(r, form)->source, form) << entry_for(r, form)->note;
    EXPECT_EQ(read_file(tmp / (std::string("out/") + form)), text) << form;
  }
}

// Text in an encoding no candidate holds (Russian in ISO-8859-5 with Western candidates) is
// kept byte for byte as undetected, where its readings part; with unsure readings accepted it
// is read as the best one, and the report names it a guess.
TEST(EngineDetect, NoPlausibleReadingIsKeptUnlessGuessesAreAccepted) {
  TempDir tmp;
  const std::string bytes =
      encode_as("// Не удалось открыть файл настроек.\nint x;\n", "ISO-8859-5");
  write_file(tmp / "in/ru.cpp", bytes);
  for (const bool accept : {false, true}) {
    JobPlan plan = detecting(tmp / "in", tmp / (accept ? "guessed" : "kept"), "CP1252");
    plan.options.candidates = {"Western"};
    plan.options.accept_unsure = accept;
    const JobReport r = run_job(plan);
    const FileReport* f = entry_for(r, "ru.cpp");
    ASSERT_NE(f, nullptr);
    if (!accept) {
      EXPECT_EQ(f->outcome, Outcome::undetected);
      EXPECT_NE(f->note.find("line 1: "), std::string::npos) << f->note;
      EXPECT_EQ(read_file(tmp / "kept/ru.cpp"), bytes);
    } else {
      EXPECT_EQ(f->outcome, Outcome::converted);
      EXPECT_EQ(f->evidence, "guess");
      EXPECT_LT(f->confidence, 60);
      EXPECT_NE(report_csv(r).find("by guess"), std::string::npos);
    }
  }
}

namespace {

std::atomic<uint64_t> bytes_read{0};

ssize_t counting_read(int fd, void* data, size_t size) {
  const ssize_t n = platform::real_sysio().read(fd, data, size);
  if (n > 0) bytes_read += static_cast<uint64_t>(n);
  return n;
}

}  // namespace

// Detection reads no more of a big file than it looks at: its beginning, then the conversion
// reads it whole (a file of gigabytes was held whole once more, per thread, only to be cut).
TEST(EngineDetect, BigFileIsReadOnlyAsFarAsDetectionLooks) {
  TempDir tmp;
  std::string big;
  while (big.size() < (size_t{4} << 20)) big += source_with_comment(kSimplified[0], "GBK");
  write_file(tmp / "in/big.cpp", big);
  platform::ScopedSysIo scope;
  platform::sysio().read = counting_read;
  bytes_read = 0;
  const JobReport r = run_job(detecting(tmp / "in", tmp / "out", "GBK"));
  platform::sysio() = platform::real_sysio();
  EXPECT_EQ(entry_for(r, "big.cpp")->outcome, Outcome::converted);
  EXPECT_EQ(read_file(tmp / "out/big.cpp"), iconv_command(big, "GBK", "UTF-8"));
  EXPECT_LE(bytes_read.load(), big.size() + (size_t{1} << 20));
}

// A file that no candidate reads is not converted: copied unchanged, with the reason.
TEST(EngineDetect, UndetectableFileIsNotConverted) {
  TempDir tmp;
  const std::string junk = "int a;\nint b; \xFF\xFF\xFF\n";
  write_file(tmp / "in/junk.c", junk);
  JobRecorder rec;
  const JobReport r = run_job(detecting(tmp / "in", tmp / "out", "GBK"), &rec);
  EXPECT_EQ(entry_for(r, "junk.c")->outcome, Outcome::undetected);
  EXPECT_FALSE(entry_for(r, "junk.c")->note.empty());
  EXPECT_EQ(read_file(tmp / "out/junk.c"), junk);
  EXPECT_TRUE(said(rec, "1 of 1 files were not converted"));
}

// Detecting with a Unicode form alone (--detect --from UTF-16BE) leaves no legacy candidate: a
// file only a legacy encoding could read is undetected and kept; the others are still told.
TEST(EngineDetect, NoLegacyCandidateLeavesLegacyBytesUndetected) {
  TempDir tmp;
  const std::string legacy = " \xBCx\xBF\xBC\xB0\xE8\n";
  write_file(tmp / "in/legacy.txt", legacy);
  write_file(tmp / "in/utf8.txt", "中文\n");
  for (const char* from : {"UTF-16BE", "UTF-16"}) {
    const std::string out = tmp / from;
    JobPlan plan = detecting(tmp / "in", out, from);
    plan.options.candidates.clear();
    const JobReport r = run_job(plan);
    const FileReport* e = entry_for(r, "legacy.txt");
    ASSERT_NE(e, nullptr) << from;
    EXPECT_EQ(e->outcome, Outcome::undetected) << from;
    EXPECT_NE(e->note.find("no legacy encoding"), std::string::npos) << e->note;
    EXPECT_EQ(read_file(out + "/legacy.txt"), legacy) << from;
    EXPECT_EQ(entry_for(r, "utf8.txt")->outcome, Outcome::already_utf8) << from;
  }
}

// A preview writes nothing and shows for each file its encoding and a sample line read
// with it; "Start Convert" after it converts the plan as shown, overrides and exclusions
// included.
TEST(EngineDetect, PreviewThenConvertThePlanAsShown) {
  TempDir tmp;
  make_two_folder_tree(tmp / "in");
  AppState app(AppState::no_config);
  app.input = tmp / "in";
  app.output = tmp / "out";
  app.filters = {"*.*"};
  app.from_index = app.index_of("GBK");
  app.to_index = app.index_of("UTF-8");
  app.detect = true;
  app.candidates = {"Chinese"};
  app.request_preview();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!app.adopt_preview() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(app.preview.has_value());
  EXPECT_FALSE(file_exists(tmp / "out"));
  ASSERT_EQ(app.preview->rows.size(), 48u);
  size_t f0 = 0, g0 = 0, f1 = 0;
  for (size_t i = 0; i < app.preview->rows.size(); ++i) {
    const std::string& p = app.preview->rows[i].path;
    if (p == "app/f0.cpp") f0 = i;
    if (p == "app/f1.cpp") f1 = i;
    if (p == "vendor/lib/g0.cpp") g0 = i;
  }
  EXPECT_EQ(app.preview->rows[f0].sample, std::string("// ") + kSimplified[0]);
  EXPECT_EQ(app.preview->rows[g0].sample, std::string("// ") + kTraditional[0]);

  // Read as Big5 by the user's choice: the sample changes at once, and so does the output.
  app.set_preview_source(f0, EncodingEntry("BIG5"));
  EXPECT_TRUE(app.preview->rereading[f0]);  // read again on the worker
  app.jobs.wait();
  app.adopt_preview();
  EXPECT_FALSE(app.preview->rereading[f0]);
  EXPECT_NE(app.preview->rows[f0].sample, std::string("// ") + kSimplified[0]);
  EXPECT_EQ(app.preview->rows[f0].source, "BIG5");
  app.preview->files[f1].excluded = true;
  app.request_convert();
  while (!app.worker_idle.load() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  app.stop_worker();
  EXPECT_FALSE(app.preview.has_value());
  EXPECT_EQ(read_file(tmp / "out/app/f0.cpp"),
            iconv_command(source_with_comment(kSimplified[0], "GBK", 0), "BIG5", "UTF-8"));
  EXPECT_FALSE(file_exists(tmp / "out/app/f1.cpp"));
  EXPECT_EQ(read_file(tmp / "out/vendor/lib/g3.cpp"),
            source_with_comment(kTraditional[3], "UTF-8", 3));
}

// Changing a setting the preview was made from discards it.
TEST(EngineDetect, ChangedSettingDiscardsPreview) {
  AppState app(AppState::no_config);
  app.input = "/in";
  app.output = "/out";
  app.preview.emplace();
  app.preview->plan = *app.plan_from_settings();
  app.discard_stale_preview();
  EXPECT_TRUE(app.preview.has_value());
  app.input = "/elsewhere";
  app.discard_stale_preview();
  EXPECT_FALSE(app.preview.has_value());
}

namespace {

void narrow_label_warnings(bool streamed) {
  TempDir tmp;
  const std::string code = "printf(\"\xE6\x97\xA5\xE6\x9C\xAC\\n\"); // \xE3\x83\x86\xE3\x82\xB9\n";
  for (int i = 0; i < 3; ++i)
    write_file(tmp / ("in/f" + std::to_string(i) + ".c"), encode_as(code, "CP932"));
  write_file(tmp / "in/plain.c", encode_as("// \xE3\x83\x86\xE3\x82\xB9 ok\n", "CP932"));
  JobRecorder rec;
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "SHIFT_JIS", "UTF-8");
  if (streamed) plan.options.whole_file_limit = 8;
  const JobReport r = run_job(plan, &rec);
  const std::vector<std::string> lines = file_lines(rec);
  const auto warnings = std::count_if(lines.begin(), lines.end(), [](const std::string& m) {
    return m.find("warning: SHIFT_JIS reads 0x5C as \xC2\xA5") != std::string::npos;
  });
  EXPECT_EQ(warnings, 3) << ::testing::PrintToString(lines);
  for (int i = 0; i < 3; ++i) {
    const FileReport* f = entry_for(r, "f" + std::to_string(i) + ".c");
    EXPECT_EQ(f->outcome, Outcome::converted);
    EXPECT_NE(f->note.find("CP932 would read it as \\"), std::string::npos) << f->note;
    EXPECT_EQ(read_file(tmp / ("out/f" + std::to_string(i) + ".c")),
              iconv_command(encode_as(code, "CP932"), "SHIFT_JIS", "UTF-8"));
  }
  EXPECT_EQ(entry_for(r, "plain.c")->note, "");
  EXPECT_FALSE(said(rec, "Hint: "));

  JobRecorder latin;
  for (int i = 0; i < 3; ++i)
    write_file(tmp / ("latin/f" + std::to_string(i) + ".txt"), "\x93quoted\x94 caf\xE9\n");
  run_job(make_plan(tmp / "latin", tmp / "out2", "ISO-8859-1", "UTF-8"), &latin);
  const auto hints = std::count_if(latin.messages.begin(), latin.messages.end(),
                                   [](const std::string& m) { return m.rfind("Hint: ", 0) == 0; });
  EXPECT_EQ(hints, 1);
  EXPECT_TRUE(said(latin, "choose CP1252"));
}

}  // namespace

// A label picked by hand that turns ASCII into other characters (SHIFT_JIS: \ is ¥) converts
// as asked, with one warning line per file holding such a byte, in the log and the report,
// whether the file is read whole or in chunks; a narrow label that keeps ASCII gets one hint
// for the whole run.
TEST(EngineDetect, NarrowLabelWarningsAndHint) {
  for (bool streamed : {false, true}) {
    SCOPED_TRACE(streamed ? "streamed" : "whole");
    narrow_label_warnings(streamed);
  }
}

// A close call between readings of different text is not converted: ambiguous, copied as it
// is, with both candidates and a sample of each; the run counts it as not converted. Chosen
// by hand in the preview it converts as iconv does.
TEST(EngineDetect, CloseCallIsAmbiguousUntilChosen) {
  TempDir tmp;
  // One letter, 0xE8: è in Latin-1 (French) and č in Latin-2 (Czech); nothing else to go on.
  const std::string bytes = "x = 1; // sk\xE8\n";
  write_file(tmp / "in/a/close.c", bytes);
  JobPlan plan = make_plan(tmp / "in", tmp / "out", "GBK", "UTF-8");
  plan.options.detect = true;
  plan.options.candidates = {"ISO-8859-1", "ISO-8859-2"};
  JobRecorder rec;
  const JobReport r = run_job(plan, &rec);
  const FileReport* f = entry_for(r, "a/close.c");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->outcome, Outcome::ambiguous) << f->evidence << " " << f->source;
  // Both readings, each after its label, whichever leads.
  for (const char* reading : {"ISO-8859-1 \xE2\x80\x9Cx = 1; // sk\xC3\xA8\xE2\x80\x9D",
                              "ISO-8859-2 \xE2\x80\x9Cx = 1; // sk\xC4\x8D\xE2\x80\x9D"}) {
    std::string note = f->note;
    const size_t reads = note.find(" reads ");
    if (reads != std::string::npos) note.erase(reads, 6);  // "X reads “...”" as "X “...”"
    EXPECT_NE(note.find(reading), std::string::npos) << f->note;
  }
  EXPECT_EQ(read_file(tmp / "out/a/close.c"), bytes);
  const std::vector<std::string> lines = file_lines(rec);
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& m) {
    return m.find("a/close.c, not sure which encoding: line 1: ISO-8859-") != std::string::npos;
  })) << ::testing::PrintToString(lines);
  EXPECT_TRUE(said(rec, "1 of 1 files were not converted"));
  EXPECT_NE(report_csv(r).find("a/close.c,ambiguous,"), std::string::npos) << report_csv(r);

  AppState app(AppState::no_config);
  app.input = tmp / "in";
  app.output = tmp / "out3";
  app.filters = {"*.*"};
  app.from_index = app.index_of("GBK");
  app.to_index = app.index_of("UTF-8");
  app.detect = true;
  app.candidates = {"ISO-8859-1", "ISO-8859-2"};
  app.request_preview();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!app.adopt_preview() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_TRUE(app.preview.has_value());
  ASSERT_EQ(app.preview->rows.size(), 1u);
  EXPECT_EQ(app.preview->rows[0].outcome, Outcome::ambiguous);
  app.set_preview_source(0, EncodingEntry("ISO-8859-2"));
  app.jobs.wait();
  app.adopt_preview();
  EXPECT_EQ(app.preview->rows[0].outcome, Outcome::converted);
  app.request_convert();
  while (!app.worker_idle.load() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  app.stop_worker();
  EXPECT_EQ(read_file(tmp / "out3/a/close.c"), iconv_command(bytes, "ISO-8859-2", "UTF-8"));
}
