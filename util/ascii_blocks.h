// Runs of ASCII found and copied a block at a time: sixteen bytes with SSE2, eight without.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "util/byte_scan.h"

namespace ascii {

#if defined(__SSE2__)
inline constexpr bool kHasVectors = true;
#else
inline constexpr bool kHasVectors = false;
#endif

namespace detail {
inline std::atomic<bool> vectors_on{kHasVectors};
}  // namespace detail

// Whether the loops take the SSE2 path; tests turn it off to run the portable one too.
inline bool vectors() { return kHasVectors && detail::vectors_on.load(std::memory_order_relaxed); }
inline void use_vectors(bool on) { detail::vectors_on.store(on, std::memory_order_relaxed); }

// Calls f.template operator()<true or false>() as vectors() says: loops choose once, outside.
template <typename F>
decltype(auto) with_lanes(F&& f) {
  if (vectors()) return f.template operator()<true>();
  return f.template operator()<false>();
}

// Whether the next four bytes are below 0x80: a run worth the block loops, not a space between
// two words that a character loop takes as it comes.
inline bool run_ahead(const unsigned char* p, const unsigned char* end) {
  if (end - p < 4) return false;
  uint32_t word;
  std::memcpy(&word, p, 4);
  return (word & 0x80808080u) == 0;
}

// Length of the run of bytes below 0x80 at the start of p[0..n).
template <bool kVectors>
inline size_t run(const unsigned char* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  if constexpr (kVectors) {
    for (; i + 32 <= n; i += 32) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
      const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(a, b)));
      if (high != 0) {
        const unsigned first = static_cast<unsigned>(_mm_movemask_epi8(a));
        return i + (first != 0 ? static_cast<size_t>(__builtin_ctz(first))
                               : 16 + static_cast<size_t>(__builtin_ctz(
                                          static_cast<unsigned>(_mm_movemask_epi8(b)))));
      }
    }
  }
#endif
  for (; i + 8 <= n; i += 8)
    if (const uint64_t high = bytes::load64(p + i) & bytes::kHighBits; high != 0)
      return i + static_cast<size_t>(__builtin_ctzll(high) / 8);
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// Copies the run of bytes below 0x80 at the start of p[0..n) to `out` and returns its length.
// Important: whole blocks are stored, so up to 15 bytes past the run are written; never past
// out + n.
template <bool kVectors>
inline size_t copy(const unsigned char* p, size_t n, char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  if constexpr (kVectors) {
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
      if (const int high = _mm_movemask_epi8(v); high != 0)
        return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high)));
    }
  }
#endif
  for (; i + 8 <= n; i += 8) {
    const uint64_t word = bytes::load64(p + i);
    std::memcpy(out + i, &word, 8);
    if (const uint64_t high = word & bytes::kHighBits; high != 0)
      return i + static_cast<size_t>(__builtin_ctzll(high) / 8);
  }
  for (; i < n && p[i] < 0x80; ++i) out[i] = static_cast<char>(p[i]);
  return i;
}

// The same, stopping at a CR or LF as well: the length copied before the first byte that is
// either or above 0x7F. Important: written past the run as copy() is.
template <bool kVectors>
inline size_t copy_to_line_end(const unsigned char* p, size_t n, char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  if constexpr (kVectors) {
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
      const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr));
      if (const int stop = _mm_movemask_epi8(_mm_or_si128(v, ends)); stop != 0)
        return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(stop)));
    }
  }
#endif
  for (; i + 8 <= n; i += 8) {
    const uint64_t word = bytes::load64(p + i);
    std::memcpy(out + i, &word, 8);
    const uint64_t stop =
        (word & bytes::kHighBits) | bytes::equal_bytes(word, '\n') | bytes::equal_bytes(word, '\r');
    if (stop != 0) return i + static_cast<size_t>(__builtin_ctzll(stop) / 8);
  }
  for (; i < n && p[i] < 0x80 && p[i] != '\n' && p[i] != '\r'; ++i)
    out[i] = static_cast<char>(p[i]);
  return i;
}

// Offset of the first `byte` in p[0..n), or n. Lines are short: inline blocks beat a call.
template <bool kVectors>
inline size_t find_byte(const unsigned char* p, size_t n, unsigned char byte) {
  size_t i = 0;
#if defined(__SSE2__)
  if constexpr (kVectors) {
    const __m128i want = _mm_set1_epi8(static_cast<char>(byte));
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      if (const int hit = _mm_movemask_epi8(_mm_cmpeq_epi8(v, want)); hit != 0)
        return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(hit)));
    }
  }
#endif
  for (; i + 8 <= n; i += 8)
    if (const uint64_t hit = bytes::equal_bytes(bytes::load64(p + i), byte); hit != 0)
      return i + static_cast<size_t>(__builtin_ctzll(hit) / 8);
  while (i < n && p[i] != byte) ++i;
  return i;
}

// UTF-16 code units below 0x80 narrowed to bytes: copies the run of them at the start of the
// `units` units at p (byte order by kBigEndian) and returns its length in units. Important:
// up to 7 bytes past the run are written; never past out + units.
template <bool kVectors, bool kBigEndian>
inline size_t narrow(const unsigned char* p, size_t units, char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  if constexpr (kVectors) {
    const __m128i low7 =
        _mm_set1_epi16(kBigEndian ? static_cast<short>(0x80FF) : static_cast<short>(0xFF80));
    for (; i + 8 <= units; i += 8) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
      // A unit is ASCII when every bit its value above 0x7F would set is clear.
      const int wide =
          _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, low7), _mm_setzero_si128()));
      if (kBigEndian) v = _mm_srli_epi16(v, 8);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
      if (wide != 0xFFFF)
        return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(~wide & 0xFFFF))) / 2;
    }
  }
#endif
  for (; i < units; ++i) {
    const unsigned lo = p[2 * i + (kBigEndian ? 1 : 0)];
    const unsigned hi = p[2 * i + (kBigEndian ? 0 : 1)];
    if (hi != 0 || lo >= 0x80) break;
    out[i] = static_cast<char>(lo);
  }
  return i;
}

}  // namespace ascii
