// What the tables that stand in for iconv have in common: which labels they may stand for, and
// the one interface the streaming converter uses.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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
  // rewrites_line_ends() and eol.in_pass().
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
// Output bytes of `in` at the most for `ratio` bytes per input byte, with room for the blocks
// the loops store past their end; false when memory runs out (`out` then as it was).
bool grow_for(std::string& out, size_t in_bytes, size_t ratio);
