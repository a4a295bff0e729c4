// The strict UTF-8 check, whole and in chunks, and the helpers around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "transcode/utf8.h"
#include "util/ascii_blocks.h"

namespace {

// Code points of every length, the longest ones outside the BMP.
const std::string kMixed = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";

// Runs `check` on the SSE2 path and on the portable one.
template <typename F>
void on_both_paths(F check) {
  for (bool vectors : {true, false}) {
    SCOPED_TRACE(vectors ? "blocks of 16" : "words of 8");
    ascii::use_vectors(vectors);
    check();
  }
  ascii::use_vectors(true);
}

}  // namespace

// Strictness: overlong forms, surrogates, code points above U+10FFFF, stray continuation
// bytes and cut sequences are all invalid, each reported where it starts.
TEST(Utf8, StrictRejectsEveryIllFormedSequence) {
  struct Case {
    std::string text;
    size_t offset;
  } cases[] = {
      {"ab\xC0\xAF", 2},        // overlong '/'
      {"\xE0\x80\xAF", 0},      // overlong in three bytes
      {"x\xED\xA0\x80", 1},     // a surrogate
      {"\xF4\x90\x80\x80", 0},  // above U+10FFFF
      {"\xF5\x80\x80\x80", 0},  // no such lead
      {"abc\x80", 3},           // stray continuation
      {"abc\xE4\xB8", 3},       // cut at the end
      {kMixed + "\xFF", kMixed.size()},
  };
  on_both_paths([&] {
    for (const auto& c : cases)
      for (size_t pad : {size_t{0}, size_t{15}, size_t{33}}) {
        const std::string text = std::string(pad, ' ') + c.text;
        const Utf8Check r = utf8_check(text);
        EXPECT_FALSE(r.valid) << testing::PrintToString(text);
        EXPECT_EQ(r.error_offset, pad + c.offset) << testing::PrintToString(text);
      }
  });
}

// Valid text of every sequence length passes, and says whether it had non-ASCII bytes.
TEST(Utf8, AcceptsValidTextAndTellsAscii) {
  EXPECT_TRUE(utf8_check(kMixed).valid);
  EXPECT_TRUE(utf8_check(kMixed).non_ascii);
  EXPECT_TRUE(utf8_check(testing_support::chinese_text(100000)).valid);
  const std::string ascii(1000, 'q');
  EXPECT_TRUE(utf8_check(ascii).valid);
  EXPECT_FALSE(utf8_check(ascii).non_ascii);
  EXPECT_TRUE(is_ascii(ascii));
  EXPECT_FALSE(is_ascii(ascii + "\xC3\xA9"));
  EXPECT_FALSE(is_ascii(std::string(40, 'a') + "\x80" + std::string(40, 'a')));
  EXPECT_TRUE(utf8_check("").valid);
}

// A NUL counts only within the limit.
TEST(Utf8, FindNulStopsAtLimit) {
  const std::string s = std::string(10, 'a') + '\0';
  EXPECT_EQ(find_nul(s, 100), 10u);
  EXPECT_EQ(find_nul(s, 10), std::string::npos);
}

// Bytes that are not UTF-8 become U+FFFD; the rest stays.
TEST(Utf8, ReplacementKeepsValidParts) {
  EXPECT_EQ(utf8_or_replacement("a\xFF"
                                "b\xE4\xB8\xAD"),
            "a\xEF\xBF\xBD"
            "b\xE4\xB8\xAD");
}

// The tail to carry is exactly the cut sequence.
TEST(Utf8, IncompleteTail) {
  EXPECT_EQ(utf8_incomplete_tail("ab\xE4\xB8"), 2u);
  EXPECT_EQ(utf8_incomplete_tail("ab\xF0\x9F\x98"), 3u);
  EXPECT_EQ(utf8_incomplete_tail("ab\xE4\xB8\xAD"), 0u);
  EXPECT_EQ(utf8_incomplete_tail("ab"), 0u);
}

class Utf8Chunks : public ::testing::TestWithParam<size_t> {};

namespace {

void agree_in_chunks(size_t chunk) {
  const std::string good = kMixed + testing_support::chinese_text(300) + kMixed;
  for (const std::string& text : {good, good + "\xE4\xB8", good.substr(0, 101) + "\xFF" + good}) {
    Utf8Scanner scanner;
    for (size_t i = 0; i < text.size(); i += chunk)
      scanner.feed(std::string_view(text).substr(i, chunk));
    const Utf8Check whole = utf8_check(text);
    const Utf8Check parts = scanner.finish();
    EXPECT_EQ(parts.valid, whole.valid) << chunk;
    if (!whole.valid) {
      EXPECT_EQ(parts.error_offset, whole.error_offset) << chunk;
    }
    EXPECT_TRUE(parts.non_ascii);
  }
}

}  // namespace

// Fed in chunks of any size, sequences cut at every boundary, the scanner agrees with the
// whole-buffer check: same validity, same error offset.
TEST_P(Utf8Chunks, ScannerAgreesWithWholeCheck) {
  on_both_paths([this] { agree_in_chunks(GetParam()); });
}

INSTANTIATE_TEST_SUITE_P(Sizes, Utf8Chunks, ::testing::Values(1, 2, 3, 4, 5, 7, 64, 4096));

namespace {

// The slow reading of the same question: split at '\n', check each line whole.
std::vector<std::string_view> utf8_lines_one_by_one(std::string_view text) {
  std::vector<std::string_view> found;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    const std::string_view line =
        text.substr(0, nl == std::string_view::npos ? text.size() : nl + 1);
    if (!is_ascii(line) && utf8_check(line).valid) found.push_back(line);
    text.remove_prefix(line.size());
  }
  return found;
}

std::vector<std::string_view> utf8_lines_in_one_pass(std::string_view text) {
  std::vector<std::string_view> found;
  size_t at = 0;
  for (std::string_view line; !(line = find_utf8_line(text, at)).empty();) found.push_back(line);
  return found;
}

}  // namespace

// The one pass finds the same lines as the line-by-line look, whatever offset each line, its
// sequences and its line end fall at (the word-at-a-time skip must not jump over either).
TEST(Utf8, FindUtf8LineAgreesWithLineByLine) {
  const std::string lines[] = {
      "\xE4\xB8\xAD\xE6\x96\x87\n",  // UTF-8 "中文"
      "\xC4\xA3\xCA\xBD\n",          // GBK "模式": valid UTF-8 by chance
      "\xD6\xD0\xCE\xC4\n",          // GBK "中文": not UTF-8
      "\xE4\xB8\n",                  // cut by its line end
      "\xE4\n\xB8\xAD\n",            // a line end inside a sequence
      "plain ascii\n",
      "\xC3\xA9",            // last line without a line end
      "\x80\xE4\xB8\xAD\n",  // a stray byte, then a character
  };
  int some = 0, none = 0;
  on_both_paths([&] {
    for (size_t pad = 0; pad < 34; ++pad) {
      for (const std::string& a : lines) {
        for (const std::string& b : lines) {
          const std::string text = std::string(pad, 'x') + "\n" + std::string(pad, 'y') + a +
                                   std::string(33 - pad, 'z') + b;
          const auto expected = utf8_lines_one_by_one(text);
          EXPECT_EQ(utf8_lines_in_one_pass(text), expected) << testing::PrintToString(text);
          ++(expected.empty() ? none : some);
        }
      }
    }
  });
  // The oracle must have given both answers many times, or the agreement means nothing.
  EXPECT_GT(some, 100);
  EXPECT_GT(none, 100);
  EXPECT_TRUE(utf8_lines_in_one_pass("").empty());
  EXPECT_TRUE(utf8_lines_in_one_pass(std::string(100, 'a') + "\n\n").empty());
}
