// Classification: the mark rule over source form x mark, binary, already UTF-8, ASCII only,
// and the converter facts the rules rest on.
#include <gtest/gtest.h>

#include <string>

#include "detect/classify.h"
#include "tests/support/test_support.h"
#include "transcode/charset.h"

using testing_support::encode_as;

namespace {

const std::string kChinese = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文 in UTF-8

RunEncodings pair(const char* from, const char* to) {
  return RunEncodings::resolve(EncodingEntry(from), EncodingEntry(to));
}

const std::string kMarks[] = {
    "",                              // none
    "\xEF\xBB\xBF",                  // UTF-8
    "\xFF\xFE",                      // UTF-16LE
    "\xFE\xFF",                      // UTF-16BE
    std::string("\xFF\xFE\0\0", 4),  // UTF-32LE
    std::string("\0\0\xFE\xFF", 4),  // UTF-32BE
};
enum Mark { none, utf8, utf16le, utf16be, utf32le, utf32be };

struct MarkCase {
  const char* source;
  Mark mark;
  Outcome outcome;  // marked, or what the text after a dropped mark becomes
  size_t dropped;   // mark bytes the source drops
};

class MarkRule : public ::testing::TestWithParam<MarkCase> {};

}  // namespace

// The mark rule: a mark of the source's own form is dropped (a self-marking UTF-16 keeps it
// for the converter), any other mark leaves the file unconverted.
TEST_P(MarkRule, OwnMarkDroppedForeignMarkStops) {
  const MarkCase c = GetParam();
  std::string text = encode_as("abc " + kChinese, c.source);
  ASSERT_FALSE(text.empty());
  // The converter of a self-marking form writes a mark of its own: the text goes without it.
  text.erase(0, mark_at_start(text).length);
  const std::string content = kMarks[c.mark] + text;
  const Classification r = classify(content, pair(c.source, "GBK"));
  EXPECT_EQ(r.outcome, c.outcome) << c.source << " mark " << c.mark;
  EXPECT_EQ(r.mark_length, c.dropped) << c.source << " mark " << c.mark;
}

INSTANTIATE_TEST_SUITE_P(SourcesAndMarks, MarkRule,
                         ::testing::Values(MarkCase{"GBK", none, Outcome::converted, 0},
                                           MarkCase{"GBK", utf8, Outcome::marked, 0},
                                           MarkCase{"GBK", utf16le, Outcome::marked, 0},
                                           MarkCase{"GBK", utf32le, Outcome::marked, 0},
                                           MarkCase{"UTF-8", utf8, Outcome::converted, 3},
                                           MarkCase{"UTF-8", utf16be, Outcome::marked, 0},
                                           MarkCase{"UTF-16LE", utf16le, Outcome::converted, 2},
                                           MarkCase{"UTF-16LE", utf16be, Outcome::marked, 0},
                                           MarkCase{"UTF-16LE", utf8, Outcome::marked, 0},
                                           MarkCase{"UTF-16BE", utf16be, Outcome::converted, 2},
                                           MarkCase{"UTF-32LE", utf32le, Outcome::converted, 4},
                                           MarkCase{"UTF-32LE", utf16le, Outcome::marked, 0},
                                           MarkCase{"UTF-32BE", utf32be, Outcome::converted, 4},
                                           MarkCase{"UTF-16", utf16le, Outcome::converted, 0},
                                           MarkCase{"UTF-16", utf16be, Outcome::converted, 0}));

// A mark repeated counts whole: every copy is dropped (a self-marking form keeps one for its
// converter), so the text never starts with U+FEFF; a different mark after it is text.
TEST(Classify, RepeatedMarkCountsWhole) {
  struct Case {
    const char* source;
    Mark mark;
    size_t kept;  // copies left for the converter
  } cases[] = {{"UTF-8", utf8, 0},       {"UTF-16LE", utf16le, 0}, {"UTF-16BE", utf16be, 0},
               {"UTF-32LE", utf32le, 0}, {"UTF-32BE", utf32be, 0}, {"UTF-16", utf16le, 1},
               {"UTF-16", utf16be, 1},   {"UTF-32", utf32be, 1}};
  for (const Case& c : cases) {
    for (size_t copies = 1; copies <= 12; ++copies) {
      std::string marks;
      for (size_t k = 0; k < copies; ++k) marks += kMarks[c.mark];
      const Classification r = classify(marks + "abc", pair(c.source, "GBK"));
      EXPECT_TRUE(r.own_mark) << c.source << " x" << copies;
      EXPECT_EQ(r.mark_length, (copies - c.kept) * kMarks[c.mark].size())
          << c.source << " x" << copies;
    }
  }
  // Another form's mark after the source's own is not a copy of it.
  EXPECT_EQ(classify("\xFF\xFE\xFE\xFF"
                     "a\0",
                     pair("UTF-16LE", "GBK"))
                .mark_length,
            2u);
  EXPECT_EQ(classify("\xEF\xBB\xBF\xEF\xBB"
                     "a",
                     pair("UTF-8", "GBK"))
                .mark_length,
            3u);
}

// A UTF-16 or UTF-32 source's file without its own mark and without a NUL byte that is valid
// UTF-8 is UTF-8; with a NUL, invalid UTF-8, a mark of its own, a source of another kind, or
// when checking against a policy it is not.
TEST(Classify, Utf8TextForWideSources) {
  BodyFacts utf8_no_nul;
  BodyFacts with_nul;
  with_nul.nul_offset = 1;
  BodyFacts invalid;
  invalid.utf8_valid = false;
  invalid.non_ascii = true;
  for (const char* wide : {"UTF-16LE", "UTF-16BE", "UTF-16", "UTF-32LE", "UTF-32"}) {
    const RunEncodings enc = pair(wide, "UTF-8");
    EXPECT_TRUE(utf8_text_for_wide(enc, false, utf8_no_nul, false)) << wide;
    EXPECT_FALSE(utf8_text_for_wide(enc, false, with_nul, false)) << wide;
    EXPECT_FALSE(utf8_text_for_wide(enc, false, invalid, false)) << wide;
    EXPECT_FALSE(utf8_text_for_wide(enc, false, utf8_no_nul, true)) << wide;
    EXPECT_FALSE(utf8_text_for_wide(enc, true, utf8_no_nul, false)) << wide;
  }
  for (const char* other : {"UTF-8", "GBK", "KOI8-R"})
    EXPECT_FALSE(utf8_text_for_wide(pair(other, "UTF-8"), false, utf8_no_nul, false)) << other;
}

// A foreign mark is named by its form.
TEST(Classify, MarkedNamesTheForm) {
  const Classification r = classify(
      "\xFF\xFE"
      "a\0",
      pair("GBK", "UTF-8"));
  EXPECT_EQ(r.outcome, Outcome::marked);
  EXPECT_STREQ(form_name(r.foreign_mark), "UTF-16LE");
}

// Binary: a NUL in the first 64 KiB of any source but UTF-16 and UTF-32, whose
// text is full of NULs; a NUL further in is text's business.
TEST(Classify, BinaryNeedsNulEarlyAndANarrowSource) {
  const std::string elf = testing_support::binary_sample(4096);
  EXPECT_EQ(classify(elf, pair("KOI8-R", "UTF-8")).outcome, Outcome::binary);
  EXPECT_EQ(classify(elf, pair("ISO-8859-1", "UTF-8")).outcome, Outcome::binary);
  const std::string utf16 = encode_as("plain text", "UTF-16LE");
  EXPECT_EQ(classify(utf16, pair("UTF-16LE", "UTF-8")).outcome, Outcome::converted);
  // The sources that change an ASCII character or two still read NUL as NUL.
  for (const char* narrow : {"SHIFT_JIS", "UTF-7", "ISO-2022-JP"})
    EXPECT_EQ(classify(std::string("a\0b\n", 4), pair(narrow, "UTF-8")).outcome, Outcome::binary)
        << narrow;
  const std::string late = std::string(kBinaryScanBytes, 'a') + '\0';
  EXPECT_EQ(classify(late, pair("GBK", "UTF-8")).outcome, Outcome::ascii);
  EXPECT_EQ(classify(elf, pair("GBK", "UTF-8")).nul_offset, elf.find('\0'));
}

// Already UTF-8: only towards a UTF-8 target, from a source that is not UTF-8, for strictly
// valid text with some non-ASCII byte.
TEST(Classify, AlreadyUtf8OnlyForStrictTextTowardsUtf8) {
  const std::string text = "// " + kChinese + "\n";
  EXPECT_EQ(classify(text, pair("GBK", "UTF-8")).outcome, Outcome::already_utf8);
  EXPECT_EQ(classify(text, pair("GB18030", "UTF-8 with BOM")).outcome, Outcome::already_utf8);
  EXPECT_EQ(classify(text, pair("GBK", "BIG5")).outcome, Outcome::converted);
  EXPECT_EQ(classify(text, pair("UTF-8", "UTF-8")).outcome, Outcome::converted);
  for (const char* bad : {"a\xC0\xAF", "a\xED\xA0\x80", "a\xF4\x90\x80\x80"})
    EXPECT_EQ(classify(bad, pair("GBK", "UTF-8")).outcome, Outcome::converted) << bad;
  // GBK text is not valid UTF-8, so it is converted as it should be.
  EXPECT_EQ(classify(encode_as(text, "GBK"), pair("GBK", "UTF-8")).outcome, Outcome::converted);
}

// ASCII only: both converters must map ASCII to itself; stateful encodings, UTF-7 and
// glibc's SHIFT_JIS (0x5C is the yen sign) always go through the converter.
TEST(Classify, AsciiOnlyWhenBothSidesKeepAscii) {
  const std::string code = "int main() { return 0; }\n";
  EXPECT_EQ(classify(code, pair("GBK", "UTF-8")).outcome, Outcome::ascii);
  EXPECT_EQ(classify(code, pair("CP1252", "UTF-16LE")).outcome, Outcome::converted);
  EXPECT_EQ(classify(code, pair("ISO-2022-JP", "UTF-8")).outcome, Outcome::converted);
  EXPECT_EQ(classify(code, pair("UTF-7", "UTF-8")).outcome, Outcome::converted);
  EXPECT_EQ(classify(code, pair("GBK", "UTF-7")).outcome, Outcome::converted);
  EXPECT_EQ(classify(code, pair("SHIFT_JIS", "UTF-8")).outcome, Outcome::converted);
}

// The converter facts behind the rules, probed from the C library itself.
TEST(CharsetTraits, FormsAndAsciiCompatibility) {
  EXPECT_EQ(charset_traits("UTF-8").form, UnicodeForm::utf8);
  EXPECT_EQ(charset_traits("UTF8").form, UnicodeForm::utf8);
  EXPECT_EQ(charset_traits("UTF-16LE").form, UnicodeForm::utf16le);
  EXPECT_EQ(charset_traits("UTF-16BE").form, UnicodeForm::utf16be);
  EXPECT_EQ(charset_traits("UTF-16").form, UnicodeForm::utf16);
  EXPECT_EQ(charset_traits("UTF-32LE").form, UnicodeForm::utf32le);
  EXPECT_EQ(charset_traits("GBK").form, UnicodeForm::none);
  EXPECT_TRUE(charset_traits("GBK").ascii_compatible);
  EXPECT_TRUE(charset_traits("UTF-8").ascii_compatible);
  EXPECT_FALSE(charset_traits("ISO-2022-JP").ascii_compatible);
  EXPECT_FALSE(charset_traits("UTF-16LE").ascii_compatible);
  EXPECT_FALSE(charset_traits("NO-SUCH-CHARSET").known);
  EXPECT_TRUE(charset_traits("KOI8-R").known);
}

// Catalogue entries: "UTF-8 with BOM" is UTF-8 plus a mark; any other "with BOM" loses its
// suffix and writes no mark; the mark reaches the run's encodings.
TEST(CharsetTraits, CatalogueEntriesCarryMarkPolicy) {
  EXPECT_TRUE(pair("GBK", "UTF-8 with BOM").target_mark);
  EXPECT_EQ(pair("GBK", "UTF-8 with BOM").target_charset, "UTF-8");
  EXPECT_FALSE(pair("GBK", "UTF-16LE with BOM").target_mark);
  EXPECT_EQ(pair("GBK", "UTF-16LE with BOM").target_charset, "UTF-16LE");
  EXPECT_EQ(pair("UTF-8 with BOM", "GBK").source_charset, "UTF-8");
}
