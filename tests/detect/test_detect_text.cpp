// Detection helpers on content: strict decoding, the preview's sample line, the hint about a
// narrow label, the cheap sniffers, and the iconv seam.
#include <gtest/gtest.h>

#include <cerrno>

#include "detect/detect.h"
#include "detect/detect_excerpt.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

using testing_support::encode_as;

// Strict decoding refuses invalid bytes and a sequence cut off at the end, and takes big input.
TEST(DetectText, DecodesStrictly) {
  const std::string gbk = encode_as("字符编码", "GBK");
  EXPECT_TRUE(detect::decodes_strictly(gbk, "GBK"));
  EXPECT_TRUE(detect::decodes_strictly(gbk, "gb18030"));
  EXPECT_FALSE(detect::decodes_strictly(gbk.substr(0, 3), "GBK"));  // incomplete
  EXPECT_FALSE(detect::decodes_strictly(gbk + "\xFF", "GBK"));      // invalid
  EXPECT_FALSE(detect::decodes_strictly(gbk, "NO-SUCH-ENCODING"));
  std::string big;
  while (big.size() < (1 << 20)) big += gbk + "\n";
  EXPECT_TRUE(detect::decodes_strictly(big, "GBK"));
  EXPECT_FALSE(detect::decodes_strictly(big + "\x81", "GBK"));
}

// The sample is the first line holding non-ASCII text, in UTF-8, trimmed; never cut inside a
// character; empty when there is none.
TEST(DetectText, SampleLine) {
  const std::string text = "int main() {\n  // 打开文件失败时返回\n  return 0;\n}\n";
  EXPECT_EQ(detect::sample_line(encode_as(text, "GBK"), "GBK"), "// 打开文件失败时返回");
  EXPECT_EQ(detect::sample_line("plain\nascii\n", "GBK"), "");
  const std::string cut = detect::sample_line(encode_as(text, "GBK"), "GBK", 12);
  EXPECT_LE(cut.size(), 12u);
  EXPECT_EQ(cut, "// 打开…");  // 3 + 6 bytes, then the mark; the next character would not fit
  EXPECT_EQ(detect::sample_line(encode_as("a\n\tЗдравствуй, мир\t\r\n", "KOI8-R"), "KOI8-R"),
            "Здравствуй, мир");
  EXPECT_EQ(detect::sample_line(encode_as("x\nüber\n", "UTF-16LE"), "UTF-16LE"), "über");
  EXPECT_EQ(detect::sample_line(encode_as("x\nこんにちは\n", "ISO-2022-JP"), "ISO-2022-JP"),
            "こんにちは");
  EXPECT_EQ(detect::sample_line("\x81\x40", "NO-SUCH-ENCODING"), "");
}

// A line far longer than the sample starts near its first non-ASCII byte, and a byte the
// encoding cannot read shows as a replacement character instead of ending the sample.
TEST(DetectText, SampleLineOfLongAndBrokenLines) {
  const std::string line = std::string(5000, 'x') + encode_as("编码", "GBK") + "\xFF" + "yz\n";
  const std::string got = detect::sample_line(line, "GBK", 40);
  EXPECT_NE(got.find("编码�yz"), std::string::npos) << got;
  EXPECT_LE(got.size(), 40u);
}

// A hand-picked narrow label gets a hint where its wider twin reads the text differently,
// and none where they agree.
TEST(DetectText, NarrowLabelHint) {
  const std::string sjis = encode_as("printf(\"表示\\n\");", "CP932");
  EXPECT_EQ(detect::narrow_label_hint(sjis, "SHIFT_JIS"),
            "SHIFT_JIS reads 0x5C as ¥; CP932 would read it as \\");
  EXPECT_EQ(detect::narrow_label_hint(sjis, "CP932"), "");
  EXPECT_EQ(detect::narrow_label_hint(encode_as("表示", "CP932"), "SHIFT_JIS"), "");
  EXPECT_EQ(detect::narrow_label_hint(encode_as("“quoted”", "CP1252"), "ISO-8859-1"),
            "ISO-8859-1 reads 0x93 as U+0093 (a control); CP1252 would read it as “");
  EXPECT_EQ(detect::narrow_label_hint(encode_as("丂", "GBK"), "GB2312"),
            "GB2312 cannot read 0x8140; GBK reads it as 丂");
  EXPECT_EQ(
      detect::narrow_label_hint(encode_as("똠", "CP949"), "EUC-KR").rfind("EUC-KR reads 0x8C", 0),
      0u);
  EXPECT_EQ(detect::narrow_label_hint("abc", "KOI8-R"), "");
}

// Unmarked UTF-16 shows as NUL bytes at every other offset; binary noise does not pass.
TEST(DetectText, UnmarkedUtf16) {
  const std::string text = "int main() { return 0; } // héllo\n";
  EXPECT_EQ(detect::unmarked_utf16(encode_as(text, "UTF-16LE")), "UTF-16LE");
  EXPECT_EQ(detect::unmarked_utf16(encode_as(text, "UTF-16BE")), "UTF-16BE");
  EXPECT_EQ(detect::unmarked_utf16(text), "");
  EXPECT_EQ(detect::unmarked_utf16(std::string("\x01\x00\x02\x00\x03\x00\x04\x00", 8)), "");
  EXPECT_EQ(detect::unmarked_utf16(""), "");
}

// 7-bit ISO-2022 text is known by its escape sequences.
TEST(DetectText, Iso2022Escapes) {
  EXPECT_TRUE(detect::has_iso2022_escapes(encode_as("日本語", "ISO-2022-JP")));
  EXPECT_TRUE(detect::has_iso2022_escapes(encode_as("한국어", "ISO-2022-KR")));
  EXPECT_FALSE(detect::has_iso2022_escapes("\x1b[1mbold\x1b[0m"));
}

// The evidence keeps a multibyte character whole even when its trail byte is ASCII, and maps
// its offsets back to the file.
TEST(DetectText, ExcerptKeepsCharactersWhole) {
  // 表 is 0x95 0x5C in CP932: the trail byte is a backslash.
  const std::string content = "x = 1;\n// " + encode_as("表ソ", "CP932") + " end\n";
  const detect::Excerpt ex = detect::cut_excerpt(content, 4096);
  EXPECT_TRUE(detect::decodes_strictly(ex.bytes, "CP932"));
  EXPECT_FALSE(ex.truncated);
  ASSERT_EQ(ex.pieces.size(), 1u);
  EXPECT_EQ(content.substr(ex.file_offset(0), ex.bytes.size()), ex.bytes);
  const detect::Excerpt small = detect::cut_excerpt(std::string(100, '\xB0'), 10);
  EXPECT_TRUE(small.truncated);
  EXPECT_LE(small.bytes.size(), 10u);
}

// A converter that cannot be opened is a failed decoding, never a crash or a false success.
TEST(DetectText, ConverterFailuresThroughTheSeam) {
  platform::ScopedSysIo restore;
  platform::sysio().iconv_open = [](const char*, const char*) {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  };
  EXPECT_FALSE(detect::decodes_strictly(encode_as("字", "GBK"), "GBK"));
  EXPECT_EQ(detect::sample_line(encode_as("字\n", "GBK"), "GBK"), "");
  detect::TreeDetector det({"GBK", "BIG5"}, "GBK");
  det.add(1, "", encode_as("// 字符编码\n", "GBK"));
  det.finish();
  EXPECT_EQ(det.decision(1).evidence, detect::Evidence::undetected);
}

// A note on two readings shows where they part, not the first line above ASCII, which both
// read alike here; one reading alone shows where it leaves ASCII.
TEST(DetectText, FirstDifferenceIsWhereReadingsPart) {
  const std::string bytes =
      "Wu\xDF"
      "ten Sie schon?\nNa, wie geht\xB4s?\n";
  EXPECT_EQ(detect::first_difference(bytes, "CP1252", "ISO-8859-15"),
            "line 2: CP1252 reads \u201CNa, wie geht\u00B4s?\u201D, ISO-8859-15 \u201CNa, wie "
            "geht\u017Ds?\u201D");
  EXPECT_EQ(detect::first_difference(bytes, "CP1252", ""),
            "line 1: CP1252 reads \u201CWu\u00DFten Sie schon?\u201D");
  EXPECT_EQ(detect::first_difference("plain\n", "CP1252", "ISO-8859-15"), "");
}
