// What the tables that stand in for iconv have in common: which labels they may stand for, and
// the one interface the streaming converter uses.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "transcode/iconv_handle.h"

class EolRewriter;

// Important: a cache of iconv, never a second opinion. Every entry is what iconv itself made of
// that character; what a table does not hold (an invalid or cut sequence, an unmappable or
// longer character) is left to iconv, which then reports it as it always did.
class CodeTable {
 public:
  virtual ~CodeTable() = default;

  // The table for converting `from` into `to` (a decoding or an encoding one), built at the
  // first call for the pair; null when there is none or the converter was replaced by a test.
  static const CodeTable* find(const std::string& from, const std::string& to);

  // Appends to `out` the conversion of `in` from its start up to the first unit the table does
  // not hold (or its end), and returns how many bytes of `in` that was: a character boundary.
  virtual size_t convert(std::string_view in, std::string& out) const = 0;
  // The same, with the line ends rewritten by `eol` in the same pass. Only when
  // rewrites_line_ends() and eol.rewrites_bytes().
  virtual size_t convert(std::string_view in, std::string& out, EolRewriter& eol) const = 0;
  // Every CR or LF of the output is one of the input, which is ASCII-compatible.
  virtual bool rewrites_line_ends() const = 0;
  // A converter of the pair keeps nothing beyond a reset, so it may serve file after file.
  virtual bool reusable() const = 0;
};

// Labels (letter case ignored) of the stateless one- and two-byte encodings tables are made for.
bool tabled_charset(const std::string& label);
bool is_utf8_label(const std::string& label);
// The label in capitals: one table per encoding however it is spelled.
std::string upper_label(std::string_view label);
// Runs a table's `loop(p, n, o, written)` (returning the bytes of p it took) over `in` a window
// at a time, appending to `out` at most `ratio` bytes per input byte (and room for the blocks
// the loops store past their end). Returns the bytes taken, up to the loop's first stop short of
// the text's end (a window's end is none: the next window goes on from it).
// Important: `out` grows by what was written, so only a window's room is written twice (a
// string's new bytes are zeroed first), not the room for all of `in`.
template <typename Loop>
size_t in_windows(std::string_view in, std::string& out, size_t ratio, Loop loop) {
  constexpr size_t kWindow = 16 * 1024;
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  size_t at = out.size(), taken = 0;
  while (taken < in.size()) {
    const size_t n = std::min(in.size() - taken, kWindow);
    const size_t room = at + n * ratio + 16;
    if (out.size() < room && !try_resize(out, room)) break;  // iconv then says ENOMEM
    size_t written = 0;
    const size_t step = loop(p + taken, n, out.data() + at, written);
    at += written;
    taken += step;
    if (step == 0) break;
  }
  out.resize(at);
  return taken;
}
