// Counting bytes a vector at a time against a plain loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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
