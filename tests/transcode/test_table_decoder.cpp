// The decoding tables against iconv itself: every byte and byte pair of each tabled encoding,
// real text with errors and long sequences cut at every boundary, and the labels never tabled.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/sys_io.h"
#include "transcode/iconv_handle.h"
#include "transcode/stream_convert.h"
#include "transcode/table_decoder.h"

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
Plain plain_iconv(const std::string& in, const char* from) {
  Plain p;
  IconvHandle cd("UTF-8", from, IconvHandle::Via::c_library);
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
  const char* label;
  std::string text;
};

// Real text with what the tables leave to iconv: four-byte GB18030, three-byte EUC-JP, bytes no
// decoder takes, and a sequence cut at the very end.
std::vector<Sample> samples() {
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
  };
}

// Through the converter the product uses, fed in pieces of every size up to the text's length:
// the output, error and offset of one plain iconv call.
TEST(TableDecoder, StreamedTextMatchesIconvAtEveryCut) {
  size_t compared = 0;
  for (const Sample& s : samples()) {
    SCOPED_TRACE(std::string(s.label) + " " + s.text);
    ASSERT_NE(TableDecoder::find(s.label, "UTF-8"), nullptr);
    const Plain ref = plain_iconv(s.text, s.label);
    for (size_t piece = 1; piece <= s.text.size(); ++piece) {
      StreamConverter conv(s.label, "UTF-8");
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
  EXPECT_GT(compared, 100u);
}

}  // namespace
