// Unicode text's encoding into a legacy encoding as a table of the C library converter's answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transcode/code_table.h"

// Every entry is what iconv itself made of that character (CodeTable): each character of the
// Basic Multilingual Plane the target writes in one or two bytes. What it writes otherwise
// (GB18030's four-byte and EUC-JP's three-byte characters), cannot write, or what is no valid
// character of the source, is left to iconv. Checked against iconv on every character it holds
// before it is used.
class TableEncoder final : public CodeTable {
 public:
  enum class Source { utf8, utf16le, utf16be };

  // The table for `from` (UTF-8, UTF-16LE or UTF-16BE) into `to`, built at the first call for
  // the pair; null when there is none (see CodeTable::find).
  static const TableEncoder* find(const std::string& from, const std::string& to);

  size_t convert(std::string_view in, std::string& out) const override;
  // UTF-8 sources only: rewrites_line_ends() is false for the others.
  size_t convert(std::string_view in, std::string& out, EolRewriter& eol) const override;
  // ASCII is itself and no other character is written with a CR or LF byte.
  bool rewrites_line_ends() const override {
    return source_ == Source::utf8 && ascii_same_ && line_ends_ascii_;
  }
  // Important: glibc's UTF-16 converters keep a byte order beyond a reset.
  bool reusable() const override { return source_ == Source::utf8; }

  // Built for `to` (a label iconv knows) for tests; empty when it cannot stand for iconv.
  static TableEncoder build(Source source, const std::string& to);
  bool usable() const { return usable_; }
  // The bytes the table writes for `c` (one or two), empty when it leaves `c` to iconv.
  std::string entry(char32_t c) const;

 private:
  template <bool kLineEnds, bool kVectors>
  size_t from_utf8(const unsigned char* p, size_t n, char* out, size_t& written,
                   EolRewriter* eol) const;
  template <bool kBigEndian, bool kVectors>
  size_t from_utf16(const unsigned char* p, size_t n, char* out, size_t& written) const;
  template <bool kLineEnds>
  size_t convert_to(std::string_view in, std::string& out, EolRewriter* eol) const;
  bool matches_iconv(const std::string& from, const std::string& to) const;

  // Per BMP code point: 0 (left to iconv), else its bytes as they lie in memory: the first in
  // the low byte, a second (never 0) in the high one.
  std::vector<uint16_t> bytes_;
  Source source_ = Source::utf8;
  bool ascii_same_ = false;       // code points below 0x80 are written as themselves
  bool line_ends_ascii_ = false;  // no other character is written with a CR or LF byte
  bool usable_ = false;
};
