// Line ends rewritten inside the converter (in the table's decoding loop where it can) against
// the converter's plain output rewritten afterwards, cut at every byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "transcode/charset.h"
#include "transcode/line_endings.h"
#include "transcode/stream_convert.h"
#include "transcode/table_decoder.h"
#include "util/ascii_blocks.h"

using namespace testing_support;

namespace {

struct Text {
  const char* name;
  std::string utf8;
};

// A character the table does not hold (four bytes in GB18030, so iconv takes over) followed by
// `pad` letters and a CRLF: the pads move the CR to each place around iconv's 64-byte window.
std::string miss_then_crlf(size_t pad) { return "😀" + std::string(pad, 'x') + "\r\n中\n"; }

std::vector<Text> texts(bool with_misses) {
  std::vector<Text> t = {
      {"lf", "a\n中文\n\nbc"},
      {"crlf", "a\r\n中文\r\nz\r\n"},
      {"lone cr", "\r中\rb\r"},
      {"mixed", "a\r\nb\nc\r\r\n中\r"},
      {"none", "中文 text 文"},
      {"characters at line ends", "中\n文\r\n字\r中\r\n\n文"},
      {"long lines", std::string(40, 'x') + "\r\n" + std::string(13, 'y') + "中\n" +
                         std::string(9, 'z') + "\r" + std::string(23, 'w') + "\n"},
      {"blocks", std::string(15, 'x') + "\r\n" + std::string(16, 'y') + "\r" +
                     std::string(17, 'z') + "中" + std::string(31, 'w') + "\n" +
                     std::string(33, 'v') + "\r"},
  };
  if (with_misses) {
    t.push_back({"miss next to line ends", "\n😀\r\n😀\r😀\n😀"});
    for (size_t pad = 56; pad <= 62; ++pad) t.push_back({"miss window", miss_then_crlf(pad)});
  }
  return t;
}

// The same texts with Cyrillic letters for the Chinese ones (a one-byte source).
std::vector<Text> cyrillic(std::vector<Text> t) {
  for (Text& text : t)
    for (const char* han : {"中", "文", "字"})
      for (size_t at; (at = text.utf8.find(han)) != std::string::npos;)
        text.utf8.replace(at, 3, "ж");
  return t;
}

struct Converted {
  bool ok = false;
  std::string out;
  EolCounts before, after;
};

// The converter's output, then the rewriter over it: what every path did before the fusion.
Converted two_passes(const std::string& from, const std::string& to, EolMode mode,
                     const std::vector<std::string_view>& pieces) {
  StreamConverter conv(from, to);
  EolRewriter eol(mode, charset_traits(to).eol_units);
  Converted c;
  std::string raw;
  for (std::string_view piece : pieces) {
    raw.clear();
    if (!conv.feed(piece.data(), piece.size(), raw)) return c;
    eol.feed(raw, c.out);
  }
  raw.clear();
  if (!conv.finish(raw)) return c;
  eol.feed(raw, c.out);
  eol.finish(c.out);
  c.ok = true;
  c.before = eol.before();
  c.after = eol.after();
  return c;
}

Converted one_pass(const std::string& from, const std::string& to, EolMode mode,
                   const std::vector<std::string_view>& pieces) {
  StreamConverter conv(from, to);
  EolRewriter eol(mode, charset_traits(to).eol_units);
  conv.rewrite_line_ends(eol);
  Converted c;
  for (std::string_view piece : pieces)
    if (!conv.feed(piece.data(), piece.size(), c.out)) return c;
  if (!conv.finish(c.out)) return c;
  c.ok = true;
  c.before = eol.before();
  c.after = eol.after();
  return c;
}

void expect_same(const Converted& fused, const Converted& oracle, const std::string& where) {
  ASSERT_TRUE(oracle.ok) << where;
  ASSERT_TRUE(fused.ok) << where;
  ASSERT_EQ(fused.out, oracle.out) << where;
  ASSERT_EQ(fused.before, oracle.before) << where;
  ASSERT_EQ(fused.after, oracle.after) << where;
}

// Every text in `from`, into `to`, in every mode, in two pieces cut at every byte and in
// pieces of one byte: the same output and counts as the two passes.
void check_every_cut(const std::string& from, const std::string& to, bool with_misses) {
  const bool one_byte = from == "CP1251" || to == "CP1251";
  for (const Text& t : one_byte ? cyrillic(texts(with_misses)) : texts(with_misses)) {
    const std::string in = encode_as(t.utf8, from);
    for (EolMode mode : {EolMode::keep, EolMode::lf, EolMode::crlf, EolMode::cr}) {
      const std::string what = from + " to " + to + ", " + t.name + ", " + eol_mode_name(mode);
      const std::string_view all(in);
      for (size_t cut = 0; cut <= in.size(); ++cut) {
        const std::vector<std::string_view> pieces = {all.substr(0, cut), all.substr(cut)};
        expect_same(one_pass(from, to, mode, pieces), two_passes(from, to, mode, pieces),
                    what + ", cut at " + std::to_string(cut));
      }
      std::vector<std::string_view> bytes;
      for (size_t i = 0; i < in.size(); ++i) bytes.push_back(all.substr(i, 1));
      expect_same(one_pass(from, to, mode, bytes), two_passes(from, to, mode, bytes),
                  what + ", a byte at a time");
    }
  }
}

}  // namespace

// The pairs whose table rewrites line ends as it converts: one- and two-byte encodings into
// UTF-8 and back, on both loop paths.
TEST(FusedLineEnds, TabledPairsAtEveryCut) {
  for (bool vectors : {true, false}) {
    ascii::use_vectors(vectors);
    for (const char* legacy : {"GBK", "BIG5", "CP932", "EUC-KR", "CP1251"})
      for (const bool into_utf8 : {true, false}) {
        const std::string from = into_utf8 ? legacy : "UTF-8", to = into_utf8 ? "UTF-8" : legacy;
        const CodeTable* table = CodeTable::find(from, to);
        ASSERT_NE(table, nullptr) << from << " to " << to;
        ASSERT_TRUE(table->rewrites_line_ends()) << from << " to " << to;
        check_every_cut(from, to, false);
      }
  }
  ascii::use_vectors(true);
}

// A character or a CR LF cut by the end of one of the windows the loops work in (16 KiB of
// input), for each place around it, a piece at a time as the product feeds them.
TEST(FusedLineEnds, CutByTheLoopsWindows) {
  for (size_t before = 16384 - 6; before <= 16384; ++before)
    for (const char* legacy : {"GBK", "CP1251"})
      for (const bool into_utf8 : {true, false}) {
        const std::string text = std::string(before, 'x') + (legacy[0] == 'G' ? "中" : "ж") +
                                 "\r\n\r" + std::string(16384, 'y') + "\r";
        const std::string from = into_utf8 ? legacy : "UTF-8", to = into_utf8 ? "UTF-8" : legacy;
        const std::string in = encode_as(text, from);
        for (EolMode mode : {EolMode::keep, EolMode::lf, EolMode::crlf}) {
          const std::vector<std::string_view> pieces = {std::string_view(in).substr(0, 20000),
                                                        std::string_view(in).substr(20000)};
          expect_same(one_pass(from, to, mode, pieces), two_passes(from, to, mode, pieces),
                      from + " to " + to + ", " + std::to_string(before));
        }
      }
}

// GB18030's four-byte characters are not in its tables: iconv converts them, and the line ends
// of its output go through the rewriter, which hands a held-back CR on to the table's loop.
TEST(FusedLineEnds, TableMissesNextToLineEnds) {
  ASSERT_NE(CodeTable::find("GB18030", "UTF-8"), nullptr);
  ASSERT_NE(CodeTable::find("UTF-8", "GB18030"), nullptr);
  check_every_cut("GB18030", "UTF-8", true);
  check_every_cut("UTF-8", "GB18030", true);
}

// Without a table that can (another target, a source iconv alone decodes, SHIFT_JIS whose
// 0x5C is not a backslash, UTF-16) the converter's output goes through the rewriter afterwards.
TEST(FusedLineEnds, UntabledPathsAtEveryCut) {
  const TableDecoder* sjis = TableDecoder::find("SHIFT_JIS", "UTF-8");
  ASSERT_NE(sjis, nullptr);
  EXPECT_FALSE(sjis->rewrites_line_ends());
  check_every_cut("SHIFT_JIS", "UTF-8", false);
  check_every_cut("GBK", "UTF-16LE", false);
  check_every_cut("UTF-16BE", "UTF-8", false);
  check_every_cut("UTF-16LE", "GBK", false);
}

// The written text itself, by hand, so the two passes are not the only word on it.
TEST(FusedLineEnds, WritesWhatTheModeSays) {
  const std::string in = encode_as("中\r\n文\nz\r", "GBK");
  const std::vector<std::string_view> whole = {in};
  Converted crlf = one_pass("GBK", "UTF-8", EolMode::crlf, whole);
  EXPECT_EQ(crlf.out, "中\r\n文\r\nz\r\n");
  EXPECT_EQ(crlf.before, (EolCounts{1, 1, 1}));
  EXPECT_EQ(crlf.after, (EolCounts{0, 3, 0}));
  EXPECT_EQ(one_pass("GBK", "UTF-8", EolMode::lf, whole).out, "中\n文\nz\n");
  EXPECT_EQ(one_pass("GBK", "UTF-8", EolMode::cr, whole).out, "中\r文\rz\r");
  // A failure still says where, line ends or not.
  const std::string bad = encode_as("中\n", "GBK") + "\x81\n";
  StreamConverter conv("GBK", "UTF-8");
  EolRewriter eol(EolMode::crlf, EolUnits{});
  conv.rewrite_line_ends(eol);
  std::string out;
  EXPECT_FALSE(conv.feed(bad.data(), bad.size(), out));
  EXPECT_EQ(conv.outcome().stop_offset, 3u);
}
