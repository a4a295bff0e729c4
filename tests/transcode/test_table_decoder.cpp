// The decoding and encoding tables against iconv itself: every byte and byte pair of each tabled
// encoding and of UTF-8, every character of the Basic Multilingual Plane, text with errors and
// long sequences cut at every boundary on both loop paths, and the labels never tabled.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/sys_io.h"
#include "transcode/iconv_handle.h"
#include "transcode/stream_convert.h"
#include "transcode/table_decoder.h"
#include "transcode/table_encoder.h"
#include "transcode/utf8.h"
#include "util/ascii_blocks.h"

namespace {

constexpr const char* kTabledLabels[] = {
    "GBK",    "GB18030", "BIG5",   "CP950",      "SHIFT_JIS",  "CP932",        "EUC-JP",
    "EUC-KR", "CP949",   "CP1250", "CP1251",     "CP1252",     "CP1253",       "KOI8-R",
    "KOI8-U", "CP866",   "CP874",  "ISO-8859-2", "ISO-8859-7", "windows-1252",
};

// iconv's own conversion of `in`, whole: what it made, and its error (0, EILSEQ, EINVAL).
struct Plain {
  std::string out;
  int error = 0;
  size_t stop = 0;
};
Plain plain_iconv(const std::string& in, const char* from, const char* to = "UTF-8") {
  Plain p;
  IconvHandle cd(to, from, IconvHandle::Via::c_library);
  EXPECT_TRUE(cd.is_open()) << from;
  char* ip = const_cast<char*>(in.data());
  size_t left = in.size();
  p.error = cd.append(&ip, &left, p.out);
  p.stop = in.size() - left;
  return p;
}

// The table never says anything iconv does not: for every one- and two-byte input, what the
// table takes is exactly iconv's conversion of those bytes.
TEST(TableDecoder, EveryByteAndPairIsIconvsOwnAnswer) {
  for (const char* label : kTabledLabels) {
    SCOPED_TRACE(label);
    const TableDecoder table = TableDecoder::build(label);
    ASSERT_TRUE(table.usable());
    IconvHandle cd("UTF-8", label, IconvHandle::Via::c_library);
    ASSERT_TRUE(cd.is_open());
    size_t known = 0;
    for (unsigned a = 0; a < 256; ++a)
      for (unsigned b = 0; b < 256; ++b) {
        const std::string in{static_cast<char>(a), static_cast<char>(b)};
        std::string by_table;
        const size_t taken = table.decode(in, by_table);
        std::string by_iconv;
        cd.reset();
        char* ip = const_cast<char*>(in.data());
        size_t left = taken;
        ASSERT_EQ(cd.append(&ip, &left, by_iconv), 0) << a << " " << b;
        ASSERT_EQ(by_table, by_iconv) << a << " " << b;
        known += taken;
      }
    // Every ASCII pair at least, so the comparison above was not over nothing.
    EXPECT_GE(known, 128u * 128u * 2u);
  }
}

TEST(TableDecoder, OnlyStatelessOneAndTwoByteDecodersIntoUtf8) {
  for (const char* label : {"CP1255", "CP1258", "BIG5-HKSCS", "ISO-2022-JP", "UTF-16LE", "UTF-7",
                            "EUC-JISX0213", "TCVN"})
    EXPECT_EQ(TableDecoder::find(label, "UTF-8"), nullptr) << label;
  EXPECT_EQ(TableDecoder::find("GBK", "UTF-16LE"), nullptr);
  EXPECT_EQ(TableDecoder::find("GBK", "UTF-8//TRANSLIT"), nullptr);
  EXPECT_NE(TableDecoder::find("GBK", "UTF-8"), nullptr);
  EXPECT_NE(TableDecoder::find("shift_jis", "utf-8"), nullptr);
}

// A converter replaced through the seam sees every conversion: no table stands in for it.
TEST(TableDecoder, ReplacedConverterIsNeverBypassed) {
  platform::ScopedSysIo scoped;
  platform::sysio().iconv = [](iconv_t, char**, size_t*, char**, size_t*) -> size_t {
    errno = EILSEQ;
    return static_cast<size_t>(-1);
  };
  EXPECT_EQ(TableDecoder::find("GBK", "UTF-8"), nullptr);
  StreamConverter conv("GBK", "UTF-8");
  std::string out;
  EXPECT_FALSE(conv.feed("abc", 3, out));
  EXPECT_EQ(conv.outcome().error, EILSEQ);
}

struct Sample {
  const char* from;
  std::string text;
  const char* to = "UTF-8";
};

// UTF-16 code units (lone surrogates included) in either byte order.
std::string utf16(const std::u16string& units, bool big) {
  std::string s;
  for (char16_t u : units) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    s += big ? std::string{hi, lo} : std::string{lo, hi};
  }
  return s;
}

// Real text with what the tables leave to iconv: four-byte GB18030, three-byte EUC-JP, bytes no
// decoder takes, characters a target cannot write, invalid UTF-8 and UTF-16, a sequence cut at
// the very end; runs of ASCII longer than a block between them.
std::vector<Sample> samples() {
  const std::string run = "for (int i = 0; i < n; ++i) {  // ";
  // Every byte of a one-byte page, scrambled, in runs long enough for its eight-at-a-time loop,
  // then one it has no character for.
  std::string page;
  for (unsigned i = 0; i < 512; ++i)
    if (const unsigned b = (i * 167 + 13) % 256; b != 0x98 && b != 0)
      page.push_back(static_cast<char>(b));
  const std::u16string run16(run.begin(), run.end());
  return {
      {"GBK", "int x; // \xC4\xA3\xCA\xBD \xD7\xB4\xCC\xAC\r\n\xCD\xA3\xD6\xB9 ok\n"},
      {"GBK", "abc \xC4\xA3\xFF\xCA\xBD tail"},
      {"GBK", "cut at the end \xC4"},
      {"GB18030", "\xC4\xA3\x81\x30\x81\x30 \x95\x32\x82\x36 \xCA\xBD \x84\x31\xA4\x39"},
      {"EUC-JP", "\xC6\xFC\xCB\xDC \x8F\xB0\xA1 \x8E\xB1 \xB8\xEC"},
      {"SHIFT_JIS", "path\\to ~ \x93\xFA\x96\x7B\x8C\xEA \xB1\xB2 \x81"},
      {"CP932", "\x87\x40 \xED\x40 \xFA\x40 \x82\xA0 \x80"},
      {"BIG5", "\xA4\xA4\xA4\xE5 \xF9\xFE \xC6\xA1 \xA4"},
      {"CP1251", "\xCF\xF0\xE8\xE2\xE5\xF2 \x98 \xE3"},
      {"CP1252", "caf\xE9 \x81 \x80"},
      {"ISO-8859-7", "\xC1\xE8\xDE\xED\xE1 \xAE \xA2"},
      {"GBK", run + "\xC4\xA3\xCA\xBD" + run + "\xD7\xB4\r\n" + run + "\x81"},
      {"UTF-8", run + "中文" + run + "ж\r\n" + run + "😀 中", "GBK"},
      {"UTF-8", "中文 ¤ € \xE4\xB8 中 \xED\xA0\x80 \xC0\xAF \xE0\x80\xAF 文", "GBK"},
      {"UTF-8", "x 中𠀀文 \xF0\x9F\x98 end \xE4", "GB18030"},
      {"UTF-8", "日本語 ～ ① \\ ~ ½ 丂", "CP932"},
      {"UTF-8", "日本語 \\ ~ ¥ ‾ 丂", "SHIFT_JIS"},
      {"UTF-8", "日本 ｱ 丂 \xEF\xBF\xBF 語", "EUC-JP"},
      {"UTF-8", "中文 碁 ℃ 鿿 中", "BIG5"},
      {"UTF-8", "한국어 똠 \xEF\xBB\xBF 語", "EUC-KR"},
      {"UTF-8", run + "Привет ж € ¤ ґ" + run, "CP1251"},
      {"UTF-8", "café € Ω \xC3", "CP1252"},
      {"UTF-16LE", utf16(u"A-中文 😀 " + std::u16string{0xDC00} + u"文x", false) + "\x41", "GBK"},
      {"UTF-16BE", utf16(u"A中文 😀ж" + std::u16string{0xD800} + u"z", true), "CP932"},
      {"UTF-16LE", utf16(run16 + u"中ж" + run16 + u"€", false), "CP1251"},
      {"CP1251", page + "\x98" + page.substr(0, 40)},
      // Runs of characters of one length with an overlong form or a surrogate among them.
      {"UTF-8", "жжжжжжж\xC1\x81 жжж", "CP1251"},
      {"UTF-8", "\xC1\x81\xC1\x82\xC1\x83\xC1\x84", "CP1251"},
      {"UTF-8", "中文中文中文\xE0\x81\x81中文中文", "GBK"},
      {"UTF-8", "中文中\xED\xA0\x80文中文中", "GBK"},
  };
}

// Through the converter the product uses, fed in pieces of every size up to the text's length,
// on both loop paths: the output, error and offset of one plain iconv call.
TEST(TableDecoder, StreamedTextMatchesIconvAtEveryCut) {
  size_t compared = 0;
  for (bool vectors : {true, false}) {
    ascii::use_vectors(vectors);
    for (const Sample& s : samples()) {
      SCOPED_TRACE(std::string(s.from) + " to " + s.to + ": " + s.text);
      ASSERT_NE(CodeTable::find(s.from, s.to), nullptr);
      const Plain ref = plain_iconv(s.text, s.from, s.to);
      for (size_t piece = 1; piece <= s.text.size(); ++piece) {
        StreamConverter conv(s.from, s.to);
        std::string out;
        bool ok = true;
        for (size_t at = 0; ok && at < s.text.size(); at += piece)
          ok = conv.feed(s.text.data() + at, std::min(piece, s.text.size() - at), out);
        if (ok) ok = conv.finish(out);
        const int error = ok ? 0 : conv.outcome().error;
        ASSERT_EQ(error, ref.error) << "piece " << piece;
        ASSERT_EQ(out, ref.out) << "piece " << piece;
        if (!ok) {
          ASSERT_EQ(conv.outcome().stop_offset, ref.stop) << "piece " << piece;
        }
        ++compared;
      }
    }
  }
  ascii::use_vectors(true);
  EXPECT_GT(compared, 1500u);
}

// iconv's bytes for one character into a converter's target; empty when it cannot write it.
std::string iconv_of(IconvHandle& cd, const std::string& in) {
  cd.reset();
  std::string out;
  char* ip = const_cast<char*>(in.data());
  size_t left = in.size();
  return cd.append(&ip, &left, out) == 0 && left == 0 ? out : std::string();
}

std::string utf8_of(char32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
  } else if (c < 0x10000) {
    s += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
          static_cast<char>(0x80 | (c & 0x3F))};
  } else {
    s += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
          static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
  }
  return s;
}

// The encoding tables never say anything iconv does not, and hold all they can: every
// character of the Basic Multilingual Plane is in the table exactly when iconv writes it alone
// in one or two bytes (U+FEFF, which a converter may take for a mark, left to iconv), with
// iconv's bytes; the table's loop reads all of them, from UTF-8, and from UTF-16 in both orders.
TEST(TableEncoder, EveryCharacterIsIconvsOwnAnswer) {
  for (const char* label : kTabledLabels) {
    SCOPED_TRACE(label);
    const TableEncoder table = TableEncoder::build(TableEncoder::Source::utf8, label);
    ASSERT_TRUE(table.usable());
    IconvHandle cd(label, "UTF-8", IconvHandle::Via::c_library);
    ASSERT_TRUE(cd.is_open());
    std::string text, expected;
    size_t held = 0;
    for (char32_t c = 0; c < 0x10000; ++c) {
      if (c >= 0xD800 && c < 0xE000) continue;
      const std::string in = utf8_of(c);
      const std::string by_iconv = iconv_of(cd, in);
      const bool fits = (by_iconv.size() == 1 && (c == 0 || by_iconv[0] != '\0')) ||
                        (by_iconv.size() == 2 && by_iconv[1] != '\0');
      const std::string by_table = table.entry(c);
      if (c == 0 || c == 0xFEFF) {
        ASSERT_EQ(by_table, "") << static_cast<uint32_t>(c);
        continue;
      }
      ASSERT_EQ(by_table, fits ? by_iconv : std::string()) << static_cast<uint32_t>(c);
      if (by_table.empty()) continue;
      text += in;
      expected += by_table;
      ++held;
    }
    EXPECT_GE(held, 127u);
    std::string out;
    ASSERT_EQ(table.convert(text, out), text.size());
    ASSERT_EQ(out, expected);
    // From UTF-16 the entries are the same; its loop is read on a target of two bytes, one of
    // one byte and one of both (SHIFT_JIS's half-width katakana).
    const std::string l = label;
    if (l != "GBK" && l != "CP1251" && l != "SHIFT_JIS") continue;
    for (const auto form : {TableEncoder::Source::utf16le, TableEncoder::Source::utf16be}) {
      const TableEncoder wide = TableEncoder::build(form, label);
      ASSERT_TRUE(wide.usable());
      std::u16string units;
      for (size_t at = 0; at < text.size();) units += static_cast<char16_t>(utf8_next(text, at));
      const std::string in = utf16(units, form == TableEncoder::Source::utf16be);
      out.clear();
      ASSERT_EQ(wide.convert(in, out), in.size());
      ASSERT_EQ(out, expected);
    }
  }
}

// Every one- and two-byte sequence of UTF-8 and every three-byte one around the edges of the
// two-byte lead's and the three-byte lead's ranges: what the encoding table takes is exactly
// iconv's conversion of those bytes, never an invalid or unwritable sequence.
TEST(TableEncoder, EveryShortUtf8SequenceIsIconvsOwnAnswer) {
  for (const char* label : {"GBK", "SHIFT_JIS", "CP1252", "EUC-JP"}) {
    SCOPED_TRACE(label);
    const TableEncoder table = TableEncoder::build(TableEncoder::Source::utf8, label);
    ASSERT_TRUE(table.usable());
    IconvHandle cd(label, "UTF-8", IconvHandle::Via::c_library);
    size_t known = 0;
    const auto check = [&](const std::string& in) {
      std::string by_table;
      const size_t taken = table.convert(in, by_table);
      ASSERT_EQ(by_table, iconv_of(cd, in.substr(0, taken))) << testing::PrintToString(in);
      known += taken;
    };
    for (unsigned a = 0; a < 256; ++a)
      for (unsigned b = 0; b < 256; ++b) check({static_cast<char>(a), static_cast<char>(b)});
    for (unsigned a = 0xE0; a < 0x100; ++a)
      for (unsigned b = 0; b < 256; ++b)
        for (unsigned c : {0x00u, 0x7Fu, 0x80u, 0xBFu, 0xC0u})
          check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
    EXPECT_GE(known, 128u * 128u * 2u);
  }
}

// UTF-16 units that are no character alone (either surrogate), and characters beyond the
// Basic Multilingual Plane, are iconv's.
TEST(TableEncoder, SurrogatesAndAstralCharactersAreLeftToIconv) {
  const TableEncoder le = TableEncoder::build(TableEncoder::Source::utf16le, "GB18030");
  const TableEncoder be = TableEncoder::build(TableEncoder::Source::utf16be, "GB18030");
  const TableEncoder u8 = TableEncoder::build(TableEncoder::Source::utf8, "GB18030");
  ASSERT_TRUE(le.usable() && be.usable() && u8.usable());
  for (char16_t u = 0xD800; u < 0xE000; ++u) {
    std::string out;
    ASSERT_EQ(le.convert(utf16(std::u16string(2, u), false), out), 0u) << static_cast<unsigned>(u);
    ASSERT_EQ(be.convert(utf16(std::u16string(2, u), true), out), 0u) << static_cast<unsigned>(u);
  }
  for (char32_t c = 0x10000; c < 0x110000; c += 0x3F1) {
    std::string out;
    ASSERT_EQ(u8.convert(utf8_of(c), out), 0u) << static_cast<uint32_t>(c);
  }
}

TEST(TableEncoder, OnlyFromUnicodeIntoTabledTargets) {
  for (const char* label : {"CP1255", "BIG5-HKSCS", "ISO-2022-JP", "UTF-7", "EUC-JISX0213"})
    EXPECT_EQ(CodeTable::find("UTF-8", label), nullptr) << label;
  EXPECT_EQ(CodeTable::find("UTF-16", "GBK"), nullptr);
  EXPECT_EQ(CodeTable::find("UTF-32LE", "GBK"), nullptr);
  EXPECT_EQ(CodeTable::find("UTF-8", "GBK//TRANSLIT"), nullptr);
  const CodeTable* table = CodeTable::find("utf-8", "gbk");
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->reusable());
  EXPECT_TRUE(table->rewrites_line_ends());
  EXPECT_FALSE(CodeTable::find("UTF-16LE", "GBK")->reusable());
}

}  // namespace
