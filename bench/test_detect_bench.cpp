// The detection benchmark's own parts: scoring by decoded text, the floors of the gate, the
// layouts, and the job's answers mapped back to the labelled files.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "detect_layouts.h"
#include "detect_score.h"
#include "labelled_corpus.h"

namespace {

labelled::File make_file(const std::string& text, const std::string& encoding,
                         const std::string& language, const std::string& cls = "tiny") {
  labelled::File f;
  f.path = "held/" + encoding + "/" + language + ".txt";
  f.encoding = encoding, f.language = language, f.size_class = cls, f.kind = "plain";
  f.text = text;
  f.bytes = text;
  if (encoding != "UTF-8") {
    iconv_t cd = ::iconv_open(encoding.c_str(), "UTF-8");
    std::string out(text.size() * 4 + 16, '\0');
    char* ip = const_cast<char*>(text.data());
    size_t il = text.size();
    char* op = out.data();
    size_t ol = out.size();
    EXPECT_NE(::iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1)) << encoding;
    ::iconv_close(cd);
    f.bytes = out.substr(0, out.size() - ol);
  }
  return f;
}

struct TempRoot {
  std::string path;
  TempRoot() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "detect-bench-XXXXXX").string();
    path = ::mkdtemp(tmpl.data()) ? tmpl : "";
  }
  ~TempRoot() { std::filesystem::remove_all(path); }
};

}  // namespace

// Right means the text comes back exactly, whatever the label: a label that reads the file
// alike is right, one that reads it otherwise is wrong, an unknown one is wrong, and only
// "ambiguous", "undetected" or no answer are refusals.
TEST(DetectScore, JudgesByDecodedText) {
  const labelled::File fr = make_file("doit être à la ligne", "ISO-8859-1", "fr");
  EXPECT_EQ(score::judge(fr, "ISO-8859-1", "converted"), score::Verdict::right);
  EXPECT_EQ(score::judge(fr, "CP1252", "converted"), score::Verdict::right);
  EXPECT_EQ(score::judge(fr, "ISO-8859-2", "converted"), score::Verdict::wrong);
  EXPECT_EQ(score::judge(fr, "UTF-8", "already-utf8"), score::Verdict::wrong);
  EXPECT_EQ(score::judge(fr, "NO-SUCH-CODE", "converted"), score::Verdict::wrong);
  EXPECT_EQ(score::judge(fr, "CP1252", "ambiguous"), score::Verdict::refused);
  EXPECT_EQ(score::judge(fr, "CP1252", "undetected"), score::Verdict::refused);
  EXPECT_EQ(score::judge(fr, "", "missing"), score::Verdict::refused);
  // A file cut short by a decoding error is not its text, even when the prefix matches.
  const labelled::File ja = make_file("表示 a\\b", "CP932", "ja");
  EXPECT_EQ(score::judge(ja, "CP932", "converted"), score::Verdict::right);
  EXPECT_EQ(score::judge(ja, "SHIFT_JIS", "converted"), score::Verdict::wrong);
  EXPECT_EQ(score::judge(ja, "UTF-8", "already-utf8"), score::Verdict::wrong);
}

namespace {

score::Board board_with(size_t right, size_t wrong, size_t refused) {
  const labelled::File f = make_file("Привет", "CP1251", "ru", "small");
  score::Board b;
  for (size_t i = 0; i < right; ++i)
    b.add({"tool", "whole tree", "own preset"}, f, score::Verdict::right);
  for (size_t i = 0; i < wrong; ++i)
    b.add({"tool", "whole tree", "own preset"}, f, score::Verdict::wrong);
  for (size_t i = 0; i < refused; ++i)
    b.add({"tool", "whole tree", "own preset"}, f, score::Verdict::refused);
  b.add({"uchardet", "per file", "-"}, f, score::Verdict::wrong);
  return b;
}

}  // namespace

// Floors written from a run pass that run, and fail one a file worse either way; a floor for
// a row the run did not measure, or measured over too few files, fails rather than passing
// unseen; peers get no floors.
TEST(DetectScore, FloorsGateTheToolsRows) {
  const score::Board measured = board_with(1800, 100, 100);
  const std::vector<score::Floor> floors = score::measured_floors(measured, 1.0);
  ASSERT_EQ(floors.size(), 2u);  // "small" and "all" of the one tool run
  EXPECT_DOUBLE_EQ(floors[0].min_right, 89.0);
  EXPECT_DOUBLE_EQ(floors[0].max_wrong, 6.0);
  std::vector<score::Floor> parsed;
  std::string error;
  ASSERT_TRUE(score::parse_floors(score::floors_text(floors), &parsed, &error)) << error;
  ASSERT_EQ(parsed.size(), floors.size());
  EXPECT_TRUE(score::check_floors(measured, parsed).empty());
  EXPECT_EQ(score::check_floors(board_with(1770, 100, 130), parsed).size(), 2u);  // right 88.5 %
  EXPECT_EQ(score::check_floors(board_with(1800, 130, 70), parsed).size(), 2u);   // wrong 6.5 %
  const std::vector<std::string> few = score::check_floors(board_with(18, 1, 1), parsed);
  ASSERT_EQ(few.size(), 1u);  // the same shares over 20 files: too few for a whole layout
  EXPECT_NE(few[0].find("20 files measured, fewer than 500"), std::string::npos) << few[0];
  parsed[0].layout = "each file alone";
  const std::vector<std::string> unseen = score::check_floors(measured, parsed);
  ASSERT_EQ(unseen.size(), 1u);
  EXPECT_NE(unseen[0].find("0 files measured"), std::string::npos) << unseen[0];
}

TEST(DetectScore, RefusesMalformedFloors) {
  std::vector<score::Floor> floors;
  std::string error;
  EXPECT_FALSE(score::parse_floors("", &floors, &error));
  EXPECT_FALSE(score::parse_floors("whole tree\town preset\tall\t90\t1\n", &floors, &error));
  const std::string header = "layout\tcandidates\tclass\tmin_right_pct\tmax_wrong_pct\n";
  EXPECT_FALSE(score::parse_floors(header, &floors, &error));
  EXPECT_FALSE(
      score::parse_floors(header + "whole tree\town preset\tall\t9x\t1\n", &floors, &error));
  EXPECT_FALSE(score::parse_floors(header + "whole tree\town preset\tall\t90\n", &floors, &error));
  EXPECT_TRUE(score::parse_floors("# note\n" + header + "whole tree\town preset\tall\t90\t1\n",
                                  &floors, &error));
}

// Mixed folders hold one preset each, mix its encodings, and stay within their size; the
// layout is the same on every run.
TEST(DetectLayouts, MixedFoldersMixOnePreset) {
  std::vector<labelled::File> files;
  for (int i = 0; i < 12; ++i) {
    files.push_back(make_file("Привет " + std::to_string(i), i % 2 ? "KOI8-R" : "CP1251", "ru"));
    files.back().path += std::to_string(i);
    files.push_back(make_file("Grüße " + std::to_string(i), "CP1252", "de"));
    files.back().path += std::to_string(i);
  }
  const layouts::Placement p = layouts::mixed(files, 5);
  EXPECT_EQ(p, layouts::mixed(files, 5));
  bool mixes = false;
  for (const auto& [folder, members] : layouts::folders(p)) {
    EXPECT_LE(members.size(), 5u) << folder;
    std::set<std::string> presets, encodings;
    for (size_t i : members) {
      presets.insert(labelled::preset_of_language(files[i].language));
      encodings.insert(files[i].encoding);
    }
    EXPECT_EQ(presets.size(), 1u) << folder;
    mixes = mixes || encodings.size() > 1;
  }
  EXPECT_TRUE(mixes);
}

// The product's job over a written tree answers for every file by its index, with what its
// report names: here a Russian CP1251 file and an ASCII one.
TEST(DetectLayouts, JobAnswersMapToFiles) {
  TempRoot root;
  ASSERT_FALSE(root.path.empty());
  std::string long_text;
  for (int i = 0; i < 20; ++i) long_text += "Файл не найден, повторите попытку позже. ";
  std::vector<labelled::File> files = {make_file("int main() { return 0; }\n", "UTF-8", "en"),
                                       make_file(long_text, "CP1251", "ru")};
  std::string error;
  ASSERT_TRUE(layouts::write_tree(root.path, files, layouts::alone(files), &error)) << error;
  ASSERT_TRUE(layouts::write_tree(root.path, files, {"one", "one"}, &error)) << error;
  const auto answers = layouts::run_job(root.path + "/one", {"Cyrillic"}, "CP1251");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers.at(0).outcome, "ascii");
  EXPECT_EQ(answers.at(1).outcome, "converted");
  EXPECT_EQ(score::judge(files[1], answers.at(1).named, answers.at(1).outcome),
            score::Verdict::right);
  const auto alone = layouts::run_job(root.path + "/alone/f1", {"Cyrillic"}, "CP1251");
  ASSERT_EQ(alone.count(1), 1u);
  EXPECT_EQ(alone.at(1).named, answers.at(1).named);
}
