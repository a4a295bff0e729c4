// Counting bytes and finding ASCII runs a vector at a time against plain loops.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "util/ascii_blocks.h"
#include "util/byte_scan.h"

// Every offset and length around a word, every byte value next to the counted one (a carry
// between byte lanes would count 0x0B or 0x8A as 0x0A), and runs long enough to fill the lanes.
TEST(ByteScan, CountAgreesWithPlainLoop) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += static_cast<char>((i * 7 + i / 13) % 256);
  for (size_t from = 0; from < 9; ++from) {
    for (size_t len : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{15},
                       size_t{16}, size_t{17}, size_t{64}, size_t{4990}}) {
      const std::string_view part = std::string_view(text).substr(from, len);
      for (int b : {0x00, 0x0A, 0x0D, 0x7F, 0x80, 0x8A, 0xFF}) {
        const auto expected = static_cast<size_t>(std::count(part.begin(), part.end(), char(b)));
        EXPECT_EQ(bytes::count(part, static_cast<unsigned char>(b)), expected)
            << from << " " << len << " " << b;
      }
    }
  }
  // Every byte the same: each lane reaches its limit.
  const std::string same(255 * 16 * 3 + 5, '\n');
  EXPECT_EQ(bytes::count(same, '\n'), same.size());
  EXPECT_EQ(bytes::count(same, '\r'), 0u);
}

namespace {

// Lanes forced one way for a scope.
struct Lanes {
  explicit Lanes(bool vectors) : was(ascii::vectors()) { ascii::use_vectors(vectors); }
  ~Lanes() { ascii::use_vectors(was); }
  bool was;
};

size_t plain_run(std::string_view s, bool line_ends) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80 &&
         !(line_ends && (s[i] == '\n' || s[i] == '\r')))
    ++i;
  return i;
}

}  // namespace

// Both paths (SSE2 blocks and eight-byte words), every start and length around the blocks, with
// the one byte that ends the run (above 0x7F, a CR, an LF) at every place or nowhere: the run's
// length and its copy are a byte loop's, and nothing is written past the room the loops promise.
TEST(AsciiBlocks, RunsAndCopiesAgreeWithPlainLoop) {
  for (bool vectors : {true, false}) {
    const Lanes lanes(vectors);
    ASSERT_EQ(ascii::vectors(), vectors && ascii::kHasVectors);
    for (size_t len = 0; len <= 70; ++len)
      for (size_t stop = 0; stop <= len; ++stop)
        for (unsigned ender : {0x80u, 0xFFu, 0x0Au, 0x0Du}) {
          std::string text(len + 16, 'a');
          for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(' ' + i % 90);
          if (stop < len) text[stop] = static_cast<char>(ender);
          text[len] = static_cast<char>(0xC3);  // past the given length: never looked at as ASCII
          const std::string_view in = std::string_view(text).substr(0, len);
          const auto* p = reinterpret_cast<const unsigned char*>(in.data());
          SCOPED_TRACE(std::to_string(vectors) + " " + std::to_string(len) + " " +
                       std::to_string(stop) + " " + std::to_string(ender));
          const size_t want = plain_run(in, false), want_eol = plain_run(in, true);
          ASSERT_EQ(ascii::with_lanes([&]<bool kV>() { return ascii::run<kV>(p, len); }), want);
          std::string out(len + 1, '#');
          const size_t copied =
              ascii::with_lanes([&]<bool kV>() { return ascii::copy<kV>(p, len, out.data()); });
          ASSERT_EQ(copied, want);
          ASSERT_EQ(out.substr(0, want), in.substr(0, want));
          ASSERT_EQ(out[len], '#');
          std::string out_eol(len + 1, '#');
          ASSERT_EQ(ascii::with_lanes([&]<bool kV>() {
                      return ascii::copy_to_line_end<kV>(p, len, out_eol.data());
                    }),
                    want_eol);
          ASSERT_EQ(out_eol.substr(0, want_eol), in.substr(0, want_eol));
          ASSERT_EQ(out_eol[len], '#');
        }
  }
}

// UTF-16 units narrowed: every length up to a few blocks, a unit that is not ASCII (its high
// byte or its low byte) at every place, both byte orders and both paths.
TEST(AsciiBlocks, NarrowsUtf16LikePlainLoop) {
  for (bool vectors : {true, false}) {
    const Lanes lanes(vectors);
    for (bool big : {false, true})
      for (size_t units = 0; units <= 40; ++units)
        for (size_t stop = 0; stop <= units; ++stop)
          for (unsigned wide : {0x80u, 0x100u, 0x4E2Du, 0x0A00u}) {
            std::string in;
            for (size_t i = 0; i < units; ++i) {
              const unsigned u = i == stop ? wide : 'A' + static_cast<unsigned>(i % 26);
              in.push_back(static_cast<char>(big ? u >> 8 : u & 0xFF));
              in.push_back(static_cast<char>(big ? u & 0xFF : u >> 8));
            }
            const auto* p = reinterpret_cast<const unsigned char*>(in.data());
            std::string out(units + 1, '#');
            const size_t n = ascii::with_lanes([&]<bool kV>() {
              return big ? ascii::narrow<kV, true>(p, units, out.data())
                         : ascii::narrow<kV, false>(p, units, out.data());
            });
            ASSERT_EQ(n, std::min(stop, units)) << vectors << big << units << " " << stop;
            for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], 'A' + static_cast<char>(i % 26));
            ASSERT_EQ(out[units], '#');
          }
  }
}
