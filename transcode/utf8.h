// Strict UTF-8 validation (no overlong forms, no surrogates, nothing above U+10FFFF).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The UTF-8 byte order mark.
inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

struct Utf8Check {
  bool valid = true;        // the whole text is strict UTF-8
  bool non_ascii = false;   // some byte >= 0x80 (looked at up to the first error)
  size_t error_offset = 0;  // where the first invalid or incomplete sequence starts
};

Utf8Check utf8_check(std::string_view text);

// The code point starting at `at` of text known to be valid UTF-8; `at` moves past it.
inline char32_t utf8_next(std::string_view valid, size_t& at) {
  const auto b = static_cast<unsigned char>(valid[at]);
  const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  char32_t c = n == 1 ? b : n == 2 ? (b & 0x1Fu) : n == 3 ? (b & 0x0Fu) : (b & 0x07u);
  for (size_t k = 1; k < n && at + k < valid.size(); ++k)
    c = (c << 6) | (static_cast<unsigned char>(valid[at + k]) & 0x3Fu);
  at += n;
  return c;
}

// The next line at or after `from` (with its '\n') that is strict UTF-8 holding a byte >= 0x80,
// `from` moved past it; empty when there is none. One pass, for the cheap first question before
// a line-by-line look at a file that may be of two encodings.
std::string_view find_utf8_line(std::string_view text, size_t& from);

// No byte >= 0x80.
bool is_ascii(std::string_view text);

// Offset of the first NUL byte among the first `limit` bytes, or npos.
size_t find_nul(std::string_view text, size_t limit);

// The text with every byte that is not part of strict UTF-8 replaced by U+FFFD.
std::string utf8_or_replacement(std::string_view text);

// Length of a sequence cut at the end of `text` (0 to 3): bytes to carry into the next chunk.
size_t utf8_incomplete_tail(std::string_view text);

// Checks a text that arrives in chunks; a sequence split between chunks is carried over.
class Utf8Scanner {
 public:
  void feed(std::string_view chunk);
  // The result over everything fed; a sequence still open at the end is an error.
  Utf8Check finish() const;
  // No invalid sequence so far. Unlike finish(), a sequence cut by the end of the last chunk
  // is no error yet: the next chunk may complete it.
  bool valid_so_far() const { return result_.valid; }

 private:
  Utf8Check result_;
  size_t consumed_ = 0;  // bytes fed before the carried tail
  std::string tail_;
};
