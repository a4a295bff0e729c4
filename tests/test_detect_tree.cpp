// The tree detector: the evidence order it owns, pooling per folder and tree, wider labels,
// preference, undetectable files, threads and confidence.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "convert/detect.h"
#include "test_support.h"

using detect::Evidence;
using detect::TreeDetector;
using testing_support::encode_as;
using testing_support::kSimplified;
using testing_support::kTraditional;
using testing_support::source_with_comment;

namespace {

bool gbk_family(const std::string& e) { return e == "GBK" || e == "GB18030"; }
bool big5_family(const std::string& e) { return e == "BIG5" || e == "BIG5-HKSCS"; }

}  // namespace

// Files decided before the statistics are still told apart if they arrive: valid UTF-8,
// 7-bit ASCII, ISO-2022 escapes, unmarked UTF-16.
TEST(DetectTree, FormsBeforeStatistics) {
  TreeDetector det({"Chinese", "ISO-2022-JP"}, "GBK");
  det.add(1, "", "plain ascii\n");
  det.add(2, "", "// 中文注释\n");
  det.add(3, "", encode_as("// 日本語\n", "ISO-2022-JP"));
  det.add(4, "", encode_as("// 中文注释 in UTF-16\n", "UTF-16LE"));
  det.finish();
  EXPECT_EQ(det.decision(1).evidence, Evidence::ascii);
  EXPECT_EQ(det.decision(1).encoding, "GBK");
  EXPECT_EQ(det.decision(2).evidence, Evidence::utf8);
  EXPECT_EQ(det.decision(2).encoding, "UTF-8");
  EXPECT_EQ(det.decision(3).encoding, "ISO-2022-JP");
  EXPECT_EQ(det.decision(4).encoding, "UTF-16LE");
}

// A file with plenty of text is decided on its own statistics, whatever the preference.
TEST(DetectTree, FileStatisticsForALongFile) {
  const std::string text = testing_support::chinese_text(6000);
  TreeDetector det({"Chinese"}, "BIG5");
  det.add(7, "src", encode_as(text, "GBK"));
  det.finish();
  const detect::Decision d = det.decision(7);
  EXPECT_EQ(d.evidence, Evidence::file_statistics);
  EXPECT_TRUE(gbk_family(d.encoding)) << d.encoding;
  EXPECT_GE(d.confidence, 90);
}

// One short comment per file is too little alone; pooled over the tree, 24 tiny GBK files all
// come out GBK-family.
TEST(DetectTree, TreeStatisticsForTinyFiles) {
  TreeDetector det({"Chinese"}, "BIG5");
  size_t id = 0;
  for (const char* c : kSimplified)
    det.add(id, "src/mod" + std::to_string(id % 5), source_with_comment(c, "GBK", int(id))), ++id;
  det.finish();
  for (size_t i = 0; i < id; ++i) {
    const detect::Decision d = det.decision(i);
    EXPECT_TRUE(gbk_family(d.encoding)) << i << ": " << d.encoding << " " << d.note;
    EXPECT_NE(d.evidence, Evidence::undetected);
  }
  EXPECT_TRUE(gbk_family(det.tree_encoding()));
}

// GBK in one folder and Big5 in another, all tiny files: each folder comes out right.
TEST(DetectTree, TwoEncodingsInTwoFolders) {
  TreeDetector det({"Chinese"}, "GBK");
  size_t id = 0;
  for (const char* c : kSimplified) det.add(id++, "gbk/src", source_with_comment(c, "GBK"));
  const size_t big5_from = id;
  for (const char* c : kTraditional) det.add(id++, "big5/lib", source_with_comment(c, "BIG5"));
  det.finish();
  for (size_t i = 0; i < id; ++i) {
    const detect::Decision d = det.decision(i);
    if (i < big5_from)
      EXPECT_TRUE(gbk_family(d.encoding)) << i << ": " << d.encoding << " " << d.note;
    else
      EXPECT_TRUE(big5_family(d.encoding)) << i << ": " << d.encoding << " " << d.note;
  }
}

// A file that only one candidate reads gets it, with that as its evidence.
TEST(DetectTree, OnlyDecoder) {
  // 丂 (0x8140) exists in GBK and not in Big5.
  TreeDetector det({"GBK", "BIG5"}, "BIG5");
  det.add(1, "", "x = 1; // " + encode_as("丂", "GBK") + "\n");
  det.finish();
  EXPECT_EQ(det.decision(1).encoding, "GBK");
  EXPECT_EQ(det.decision(1).evidence, Evidence::only_decoder);
}

// Bytes no candidate decodes: undetected, and the note says where.
TEST(DetectTree, UndetectableFile) {
  TreeDetector det({"GBK", "BIG5"}, "GBK");
  det.add(1, "", "int a;\nint b; \xFF\xFF\n");
  det.finish();
  const detect::Decision d = det.decision(1);
  EXPECT_EQ(d.evidence, Evidence::undetected);
  EXPECT_EQ(d.encoding, "");
  EXPECT_NE(d.note.find("line 2, column 8"), std::string::npos) << d.note;
  EXPECT_NE(d.note.find("0xFF"), std::string::npos) << d.note;
}

// A pooled file the pool's encoding cannot read takes its own best strict decoder.
TEST(DetectTree, PooledFileThePoolCannotRead) {
  TreeDetector det({"Chinese"}, "BIG5");
  size_t id = 0;
  for (const char* c : kTraditional) det.add(id++, "lib", source_with_comment(c, "BIG5"));
  // Big5 has no 0x8140 (丂): this tiny file is GBK however the folder leans.
  det.add(100, "lib", "// " + encode_as("丂乚", "GBK") + "\n");
  det.finish();
  EXPECT_TRUE(big5_family(det.decision(0).encoding));
  EXPECT_TRUE(gbk_family(det.decision(100).encoding)) << det.decision(100).encoding;
}

// The preferred label wins where the candidates read the text alike.
TEST(DetectTree, PreferredWinsTies) {
  const std::string text = encode_as("// Größe der Datei prüfen\n", "CP1252");
  for (const char* preferred : {"CP1252", "ISO-8859-15"}) {
    TreeDetector det({"Western"}, preferred);
    det.add(1, "", text);
    det.finish();
    EXPECT_EQ(det.decision(1).encoding, preferred);
  }
}

// Narrow labels lose to their wider twins where both read the file, and the note says so.
TEST(DetectTree, NarrowLabelsLoseToWiderOnes) {
  struct Case {
    const char* narrow;
    const char* wide;
    const char* text;
  } cases[] = {{"SHIFT_JIS", "CP932", "// 日本語のコメントです。ファイルを開く\n"},
               {"EUC-KR", "CP949", "// 한국어 주석입니다. 파일을 엽니다\n"},
               {"ISO-8859-1", "CP1252", "// Größe der Datei prüfen\n"},
               {"GB2312", "GBK", "// 打开文件失败时返回错误\n"}};
  for (const Case& c : cases) {
    TreeDetector det({c.narrow, c.wide}, c.narrow);
    det.add(1, "", encode_as(c.text, c.wide));
    det.finish();
    const detect::Decision d = det.decision(1);
    EXPECT_EQ(d.encoding, c.wide) << c.narrow;
    EXPECT_NE(d.note.find(std::string(c.wide) + " rather than " + c.narrow), std::string::npos)
        << d.note;
  }
}

// With no candidates configured, the chosen encoding's preset is the candidate list.
TEST(DetectTree, CandidatesFromThePreferredEncoding) {
  EXPECT_EQ(TreeDetector({}, "gbk").candidates(), detect::preset_of("GBK")->encodings);
  EXPECT_EQ(TreeDetector({}, "CP1257").candidates(), std::vector<std::string>{"CP1257"});
  EXPECT_EQ(TreeDetector({"UTF-8", "KOI8-R"}, "").candidates(), std::vector<std::string>{"KOI8-R"});
}

// Unknown ids, an empty tree and a second finish() are harmless; the same id again keeps the
// later content.
TEST(DetectTree, EdgesOfTheInterface) {
  TreeDetector empty({"Chinese"}, "GBK");
  empty.finish();
  EXPECT_EQ(empty.tree_encoding(), "");
  EXPECT_EQ(empty.decision(5).evidence, Evidence::undetected);
  TreeDetector det({"Chinese"}, "GBK");
  det.add(1, "/a/", "\xFF");
  EXPECT_EQ(det.decision(1).evidence, Evidence::undetected);  // not finished yet
  det.add(1, "/a/", "plain");
  det.finish();
  det.finish();
  EXPECT_EQ(det.decision(1).evidence, Evidence::ascii);
}

// Important: add() from several threads at once (run under ThreadSanitizer too).
TEST(DetectTree, AddFromManyThreads) {
  TreeDetector det({"Chinese"}, "GBK");
  constexpr size_t kPerThread = 96;
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&det, t] {
      const bool big5 = t % 2 == 1;
      for (size_t i = 0; i < kPerThread; ++i) {
        const char* c = big5 ? kTraditional[i % 24] : kSimplified[i % 24];
        det.add(t * 1000 + i, big5 ? "tw/" + std::to_string(t) : "cn/" + std::to_string(t),
                source_with_comment(c, big5 ? "BIG5" : "GBK", int(i)));
      }
    });
  }
  for (std::thread& th : threads) th.join();
  det.finish();
  for (size_t t = 0; t < 4; ++t)
    for (size_t i = 0; i < kPerThread; ++i) {
      const std::string e = det.decision(t * 1000 + i).encoding;
      EXPECT_TRUE(t % 2 == 1 ? big5_family(e) : gbk_family(e)) << t << "/" << i << ": " << e;
    }
}

// On a small labelled set of single short files, the answers that are wrong carry less
// confidence than the right ones.
TEST(DetectTree, WrongAnswersAreLessConfident) {
  struct Labelled {
    const char* preset;
    const char* encoding;
    const char* text;
  };
  std::vector<Labelled> set;
  for (const char* enc : {"GBK", "BIG5"})
    for (size_t i = 0; i < 24; i += 3) set.push_back({"Chinese", enc, nullptr});
  const char* const cyrillic[] = {"// открыть файл", "// Ошибка чтения",
                                  "// ВНИМАНИЕ",     "// закрыть соединение и выйти",
                                  "// это",          "// Юг"};
  for (const char* enc : {"CP1251", "KOI8-R", "CP866"})
    for (const char* t : cyrillic) set.push_back({"Cyrillic", enc, t});
  std::vector<int> right, wrong;
  size_t chinese = 0;
  for (const Labelled& l : set) {
    std::string text = l.text ? l.text : "";
    if (!l.text)
      text = std::string("// ") +
             (std::string(l.encoding) == "GBK" ? kSimplified : kTraditional)[(chinese++ * 3) % 24];
    TreeDetector::Options alone;
    alone.pooling = false;
    TreeDetector det({l.preset}, detect::preset_of(l.encoding)->encodings.front(), alone);
    const std::string bytes = encode_as(text + "\n", l.encoding);
    det.add(0, "", bytes);
    det.finish();
    const detect::Decision d = det.decision(0);
    const bool ok = !d.encoding.empty() && detect::decodes_strictly(bytes, d.encoding) &&
                    encode_as(text + "\n", d.encoding) == bytes;
    (ok ? right : wrong).push_back(d.confidence);
  }
  ASSERT_FALSE(right.empty());
  std::sort(right.begin(), right.end());
  const int median_right = right[right.size() / 2];
  for (int c : wrong) EXPECT_LT(c, median_right);
  EXPECT_GT(right.size(), wrong.size() * 3);
}
