// Detection labels: presets, candidate expansion, aliases and the narrow labels' wider twins.
#include <gtest/gtest.h>

#include <algorithm>

#include "detect/detect.h"

using detect::expand_candidates;
using detect::preset_of;
using detect::wider_label;

namespace {

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

}  // namespace

// Every preset names only encodings the converter knows, and the asked-for scripts are there.
TEST(DetectLabels, PresetsCoverTheScriptsWithKnownEncodings) {
  std::vector<std::string> names;
  for (const detect::Preset& p : detect::presets()) {
    names.push_back(p.name);
    std::vector<std::string> unknown;
    EXPECT_EQ(expand_candidates(p.encodings, &unknown), p.encodings) << p.name;
    EXPECT_TRUE(unknown.empty()) << p.name;
  }
  for (const char* want :
       {"Chinese", "Japanese", "Korean", "Cyrillic", "Western", "Central European", "Greek",
        "Turkish", "Hebrew", "Arabic", "Thai", "Vietnamese"})
    EXPECT_TRUE(contains(names, want)) << want;
}

// Preset names and encoding names mix, any case; aliases become glibc names; order is kept,
// duplicates and unknown names dropped, the unknown ones reported.
TEST(DetectLabels, ExpandMixesPresetsAndNames) {
  std::vector<std::string> unknown;
  const auto got = expand_candidates(
      {"utf-8", "chinese", "sjis", "GBK", "windows-1251", "x-mac-cyrillic", "iso8859-5", "nosuch"},
      &unknown);
  const std::vector<std::string> want = {"UTF-8",      "GB18030",      "GBK",         "BIG5",
                                         "BIG5-HKSCS", "EUC-TW",       "ISO-2022-CN", "SHIFT_JIS",
                                         "CP1251",     "MAC-CYRILLIC", "ISO-8859-5"};
  EXPECT_EQ(got, want);
  EXPECT_EQ(unknown, std::vector<std::string>{"nosuch"});
  EXPECT_TRUE(expand_candidates({}).empty());
  // "all": every encoding detection knows, the EBCDIC pages no preset offers among them.
  EXPECT_EQ(expand_candidates({"All"}), detect::every_encoding());
  const std::vector<std::string>& every = detect::every_encoding();
  for (const char* name : {"MACINTOSH", "CP437", "JOHAB", "ISO-8859-13", "IBM424"})
    EXPECT_NE(std::find(every.begin(), every.end(), name), every.end()) << name;
}

// "From Encoding = GBK" with no candidates means the Chinese preset; a narrow label finds the
// preset of its wider twin; Unicode forms belong to none.
TEST(DetectLabels, PresetOfAnEncoding) {
  ASSERT_NE(preset_of("gbk"), nullptr);
  EXPECT_EQ(preset_of("gbk")->name, "Chinese");
  ASSERT_NE(preset_of("GB2312"), nullptr);
  EXPECT_EQ(preset_of("GB2312")->name, "Chinese");
  ASSERT_NE(preset_of("ISO-8859-1"), nullptr);
  EXPECT_EQ(preset_of("ISO-8859-1")->name, "Western");
  EXPECT_EQ(preset_of("KOI8-U")->name, "Cyrillic");
  EXPECT_EQ(preset_of("UTF-8"), nullptr);
  EXPECT_EQ(preset_of("nosuch"), nullptr);
}

// The glibc traps: each narrow label has a wider twin, and the note says why it was taken.
TEST(DetectLabels, NarrowLabelsHaveWiderTwins) {
  EXPECT_EQ(wider_label("SHIFT_JIS"), "CP932");
  EXPECT_EQ(wider_label("sjis"), "CP932");
  EXPECT_EQ(wider_label("EUC-KR"), "CP949");
  EXPECT_EQ(wider_label("GB2312"), "GBK");
  EXPECT_EQ(wider_label("ISO-8859-1"), "CP1252");
  EXPECT_EQ(wider_label("latin1"), "CP1252");
  EXPECT_EQ(wider_label("CP932"), "");
  EXPECT_EQ(wider_label("GBK"), "");
  EXPECT_EQ(detect::wider_label_note("CP932", "SHIFT_JIS"),
            "CP932 rather than SHIFT_JIS: both read it, SHIFT_JIS turns \\ into ¥ and ~ into ‾");
  EXPECT_NE(detect::wider_label_note("CP1252", "ISO-8859-1").find("control"), std::string::npos);
  EXPECT_EQ(detect::wider_label_note("GBK", "BIG5"), "");
}

// Evidence names are what reports print.
TEST(DetectLabels, EvidenceNames) {
  EXPECT_STREQ(detect::evidence_name(detect::Evidence::tree_statistics), "tree statistics");
  EXPECT_STREQ(detect::evidence_name(detect::Evidence::override_), "override");
  EXPECT_STREQ(detect::evidence_name(detect::Evidence::undetected), "undetected");
}
