// The tree detector: the evidence order it owns, pooling per folder and tree, wider labels,
// preference, undetectable files, threads and confidence.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "detect/detect.h"
#include "tests/support/test_support.h"
#include "transcode/utf8.h"

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

// One short comment per file is too little alone; pooled per folder, 24 tiny GBK files all
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
  det.add(1, "", "x = 1; // " + encode_as("丂，这是一个测试文件的说明", "GBK") + "\n");
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
  det.add(100, "lib", "// " + encode_as("丂是字", "GBK") + "\n");
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
  } cases[] = {{"EUC-KR", "CP949", "// 한국어 주석입니다. 파일을 엽니다\n"},
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

// Candidates that name no legacy encoding (Unicode forms only): bytes only a legacy encoding
// reads are undetected, with the reason; the forms before the statistics are still found.
TEST(DetectTree, NoLegacyCandidate) {
  for (const std::vector<std::string>& names :
       {std::vector<std::string>{}, std::vector<std::string>{"UTF-16LE", "UTF-8"}}) {
    TreeDetector det(names, "UTF-16BE");
    EXPECT_TRUE(det.candidates().empty());
    det.add(1, "", "int a; \xC4\xE3\xBA\xC3\n");
    det.add(2, "", "int a; // \xE4\xB8\xAD\n");
    det.add(3, "", std::string("i\0n\0t\0 \0a\0;\0\n\0", 14));
    det.finish();
    EXPECT_EQ(det.decision(1).evidence, Evidence::undetected);
    EXPECT_NE(det.decision(1).note.find("no legacy encoding"), std::string::npos)
        << det.decision(1).note;
    EXPECT_EQ(det.decision(2).encoding, "UTF-8");
    EXPECT_EQ(det.decision(3).encoding, "UTF-16LE");
  }
}

// With no candidates configured, the chosen encoding's preset is the candidate list.
TEST(DetectTree, CandidatesFromThePreferredEncoding) {
  EXPECT_EQ(TreeDetector({}, "gbk").candidates(), detect::preset_of("GBK")->encodings);
  EXPECT_EQ(TreeDetector({}, "IBM424").candidates(), std::vector<std::string>{"IBM424"});
  EXPECT_EQ(TreeDetector({"UTF-8", "KOI8-R"}, "").candidates(), std::vector<std::string>{"KOI8-R"});
}

// Unknown ids, an empty tree and a second finish() are harmless; the same id again keeps the
// later content.
TEST(DetectTree, EdgesOfTheInterface) {
  TreeDetector empty({"Chinese"}, "GBK");
  empty.finish();
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
  // Comments of one character: too little text to tell GBK from BIG5 every time, so some
  // answers are wrong and the comparison below is never over an empty set.
  std::vector<std::string> short_texts;
  for (size_t i = 0; i < 24; i += 2) {
    short_texts.push_back("// " + std::string(kSimplified[i]).substr(0, 3));
    short_texts.push_back("// " + std::string(kTraditional[i]).substr(0, 3));
  }
  for (size_t i = 0; i < short_texts.size(); ++i)
    set.push_back({"Chinese", i % 2 == 0 ? "GBK" : "BIG5", short_texts[i].c_str()});
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
    // Bytes that are valid UTF-8 too are read as UTF-8 whatever they hold: not this test's case.
    if (utf8_check(bytes).non_ascii && utf8_check(bytes).valid) continue;
    det.add(0, "", bytes);
    det.finish();
    const detect::Decision d = det.decision(0);
    const bool ok = !d.encoding.empty() && detect::decodes_strictly(bytes, d.encoding) &&
                    encode_as(text + "\n", d.encoding) == bytes;
    (ok ? right : wrong).push_back(d.confidence);
  }
  ASSERT_FALSE(right.empty());
  ASSERT_FALSE(wrong.empty()) << "no wrong answer left to compare: give the set harder cases";
  std::sort(right.begin(), right.end());
  const int median_right = right[right.size() / 2];
  for (int c : wrong) EXPECT_LT(c, median_right);
  EXPECT_GT(right.size(), wrong.size() * 3);
}

// A file whose own text decides it keeps its answer in a folder whose other files all read
// otherwise, and the folder's tiny files keep theirs.
TEST(DetectTree, StrongFileKeepsItsAnswerInAFolderThatLeansOtherwise) {
  TreeDetector det({"Chinese"}, "BIG5");
  size_t id = 0;
  for (const char* c : kTraditional) det.add(id++, "lib", source_with_comment(c, "BIG5"));
  det.add(100, "lib", encode_as(testing_support::chinese_text(2000), "GBK"));
  det.finish();
  const detect::Decision strong = det.decision(100);
  EXPECT_TRUE(gbk_family(strong.encoding)) << strong.encoding << " " << strong.note;
  EXPECT_EQ(strong.evidence, Evidence::file_statistics);
  for (size_t i = 0; i < id; ++i) EXPECT_TRUE(big5_family(det.decision(i).encoding)) << i;
}

// A file's answer does not depend on what lies in other folders: alone, in its own folder,
// and beside a folder of another encoding it reads the same; a whole tree gives each folder
// what a run over that folder alone gives it.
TEST(DetectTree, AnswerIndependentOfOtherFolders) {
  const auto run = [](bool with_gbk, bool with_big5) {
    TreeDetector det({"Chinese", "Korean", "Japanese"}, "");
    for (size_t i = 0; i < 24; ++i) {
      if (with_gbk) det.add(i, "cn", source_with_comment(kSimplified[i], "GBK", int(i)));
      if (with_big5) det.add(100 + i, "tw", source_with_comment(kTraditional[i], "BIG5", int(i)));
    }
    det.finish();
    std::vector<std::string> out;
    for (size_t i = 0; i < 24; ++i)
      out.push_back(det.decision(with_gbk ? i : 100 + i).encoding + "|" +
                    (with_big5 && with_gbk ? det.decision(100 + i).encoding : ""));
    return out;
  };
  const std::vector<std::string> cn = run(true, false), both = run(true, true);
  const std::vector<std::string> tw = run(false, true);
  for (size_t i = 0; i < 24; ++i) {
    const std::string cn_alone = cn[i].substr(0, cn[i].find('|'));
    const std::string tw_alone = tw[i].substr(0, tw[i].find('|'));
    EXPECT_EQ(both[i], cn_alone + "|" + tw_alone) << i;
    EXPECT_TRUE(gbk_family(cn_alone)) << i << ": " << cn_alone;
    EXPECT_TRUE(big5_family(tw_alone)) << i << ": " << tw_alone;
  }
  // One file alone reads as it does in its folder; one too short to decide alone may be left
  // ambiguous, but never gets another encoding.
  for (size_t i = 0; i < 24; ++i) {
    TreeDetector alone({"Chinese", "Korean", "Japanese"}, "");
    alone.add(0, "cn", source_with_comment(kSimplified[i], "GBK", int(i)));
    alone.finish();
    const detect::Decision d = alone.decision(0);
    if (d.evidence != Evidence::ambiguous) {
      EXPECT_EQ(d.encoding, cn[i].substr(0, cn[i].find('|'))) << i;
    }
  }
}

// A weak file is pooled only with files that read it alike: a folder of Big5 files does not
// pull a tiny file that Big5 reads as implausible text, and the note names the pool.
TEST(DetectTree, PoolOnlyAmongFilesThatAgree) {
  TreeDetector det({"Chinese", "Cyrillic"}, "");
  size_t id = 0;
  for (const char* c : kTraditional) det.add(id++, "mixed", source_with_comment(c, "BIG5"));
  det.add(200, "mixed", encode_as("// Ошибка\n", "CP1251"));
  det.finish();
  EXPECT_EQ(det.decision(200).encoding, "CP1251") << det.decision(200).note;
  for (size_t i = 0; i < std::size(kTraditional); ++i)
    EXPECT_TRUE(big5_family(det.decision(i).encoding)) << i << ": " << det.decision(i).note;
}

// A close call between two readings of different text is ambiguous, with both candidates and
// a sample of each; readings that give the same text are no close call; the preferred
// encoding settles a close call it leads.
TEST(DetectTree, CloseCallIsAmbiguous) {
  const std::string bytes = "x = 1; // sk\xE8\n";
  TreeDetector det({"ISO-8859-1", "ISO-8859-2"}, "");
  det.add(1, "", bytes);
  det.add(2, "other", "x = 1; // caf\xE9 \xE9t\xE9\n");  // é is é in both
  det.finish();
  const detect::Decision d = det.decision(1);
  EXPECT_EQ(d.evidence, Evidence::ambiguous);
  EXPECT_EQ(d.encoding, "");
  EXPECT_EQ(d.rivals.size(), 2u);
  EXPECT_NE(std::find(d.rivals.begin(), d.rivals.end(), "ISO-8859-2"), d.rivals.end());
  EXPECT_NE(d.note.find("sk\xC3\xA8"), std::string::npos) << d.note;
  EXPECT_NE(d.note.find("sk\xC4\x8D"), std::string::npos) << d.note;
  EXPECT_NE(det.decision(2).evidence, Evidence::ambiguous);
  EXPECT_FALSE(det.decision(2).encoding.empty());

  // Preferring the reading that leads settles it; preferring the other one settles nothing.
  ASSERT_EQ(d.rivals.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    TreeDetector preferring({"ISO-8859-2", "ISO-8859-1"}, d.rivals[i]);
    preferring.add(1, "", bytes);
    preferring.finish();
    EXPECT_EQ(preferring.decision(1).encoding, i == 0 ? d.rivals[0] : "") << d.rivals[i];
  }
}

// Detection never names a label that changes ASCII: SHIFT_JIS listed or preferred becomes
// CP932, and a Japanese file with a backslash reads as CP932.
TEST(DetectTree, LabelsThatChangeAsciiAreNeverNamed) {
  EXPECT_FALSE(detect::keeps_ascii("SHIFT_JIS"));
  EXPECT_FALSE(detect::keeps_ascii("sjis"));
  for (const char* e : {"CP932", "EUC-JP", "GBK", "CP1252", "UTF-16LE", "NO-SUCH-THING"})
    EXPECT_TRUE(detect::keeps_ascii(e)) << e;
  EXPECT_EQ(TreeDetector({"SHIFT_JIS", "EUC-JP"}, "").candidates(),
            (std::vector<std::string>{"CP932", "EUC-JP"}));
  TreeDetector det({"SJIS"}, "SHIFT_JIS");
  EXPECT_EQ(det.candidates(), std::vector<std::string>{"CP932"});
  det.add(1, "", encode_as("printf(\"日本語\\n\"); // テスト\n", "CP932"));
  det.finish();
  EXPECT_EQ(det.decision(1).encoding, "CP932");
  const TreeDetector japanese({"Japanese"}, "CP932");
  for (const std::string& c : japanese.candidates()) EXPECT_NE(c, "SHIFT_JIS");
}

// A very short close call is not settled by the preferred encoding when the file's own text
// puts the other reading ahead: one byte, æ in Latin-1 and ć in Latin-2, is refused with both.
TEST(DetectTree, PreferenceAloneSettlesNoShortCloseCall) {
  TreeDetector det({"ISO-8859-2", "ISO-8859-1"}, "ISO-8859-1");
  det.add(1, "", "x = 1; // \xE6\n");
  det.finish();
  const detect::Decision d = det.decision(1);
  EXPECT_EQ(d.encoding, "") << d.note;
  EXPECT_TRUE(d.evidence == Evidence::ambiguous || d.evidence == Evidence::undetected);
  EXPECT_EQ(d.rivals.size(), 2u);
}

// A file whose own text chose its reading is reported as read from its own text, even when
// its folder's files agree; "tree statistics" is for files the folder decided.
TEST(DetectTree, OwnAnswerKeepsItsOwnEvidenceInAnAgreeingFolder) {
  TreeDetector det({"ISO-8859-2", "ISO-8859-1"}, "ISO-8859-2");
  det.add(1, "a", "// voil\xE0\n");
  det.add(2, "a", "// caf\xE9 \xE9t\xE9 d\xE9j\xE0\n");
  det.add(3, "a", "// \xE0 bient\xF4t\n");
  det.finish();
  const detect::Decision d = det.decision(1);
  EXPECT_EQ(d.encoding, "ISO-8859-1") << d.note;
  EXPECT_EQ(d.evidence, Evidence::file_statistics) << d.note;
  EXPECT_NE(d.note.find("agree"), std::string::npos) << d.note;
}
