// Eight bytes at a time: loads, high-bit tests and exact byte matches without SIMD headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace bytes {

inline constexpr uint64_t kHighBits = 0x8080808080808080ull;
inline constexpr uint64_t kOnes = 0x0101010101010101ull;

inline uint64_t load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// 0x80 in each byte of x equal to `byte`, 0 elsewhere. Important: exact per byte (the
// common "has a zero byte" trick gives false hits above a true one, which a count cannot take).
inline uint64_t equal_bytes(uint64_t x, unsigned char byte) {
  const uint64_t t = x ^ (kOnes * byte);
  return ~(((t & ~kHighBits) + ~kHighBits) | t) & kHighBits;
}

// How many bytes of text equal `byte`.
inline size_t count(std::string_view text, unsigned char byte) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0, total = 0;
  while (i + 8 <= n) {
    // Up to 255 words add into the byte lanes before they could overflow.
    uint64_t lanes = 0;
    for (size_t k = 0; k < 255 && i + 8 <= n; ++k, i += 8)
      lanes += equal_bytes(load64(p + i), byte) >> 7;
    // Important: eight full lanes sum past a byte; add them pairwise into 16-bit lanes first.
    const uint64_t pairs = (lanes & 0x00FF00FF00FF00FFull) + ((lanes >> 8) & 0x00FF00FF00FF00FFull);
    total += static_cast<size_t>((pairs * 0x0001000100010001ull) >> 48);
  }
  for (; i < n; ++i) total += p[i] == byte;
  return total;
}

}  // namespace bytes
