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

// How many bytes of text equal `byte`: sixteen at a time in vector lanes (SSE2 or NEON, through
// the compiler's vector types, no headers of either).
inline size_t count(std::string_view text, unsigned char byte) {
  using Lanes = unsigned char __attribute__((vector_size(16)));
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  Lanes want;
  for (int k = 0; k < 16; ++k) want[k] = byte;
  size_t i = 0, total = 0;
  while (i + 16 <= n) {
    // Important: a lane adds one per hit and holds 255, so the lanes are summed every 255 steps.
    Lanes sums = {};
    for (size_t k = 0; k < 255 && i + 16 <= n; ++k, i += 16) {
      Lanes v;
      std::memcpy(&v, p + i, sizeof v);
      sums -= reinterpret_cast<Lanes>(v == want);  // a hit is all ones, minus it adds one
    }
    uint64_t halves[2];
    std::memcpy(halves, &sums, sizeof halves);
    for (uint64_t h : halves) {
      const uint64_t pairs = (h & 0x00FF00FF00FF00FFull) + ((h >> 8) & 0x00FF00FF00FF00FFull);
      total += static_cast<size_t>((pairs * 0x0001000100010001ull) >> 48);
    }
  }
  for (; i < n; ++i) total += p[i] == byte;
  return total;
}

}  // namespace bytes
