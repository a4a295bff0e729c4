// A legacy encoding's decoding into UTF-8 as a table of the C library converter's own answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transcode/code_table.h"

// Every entry is what iconv itself made of that byte or byte pair (CodeTable). Only stateless
// decoders known to decode each character on its own are tabled, and each table is checked
// against iconv on every character it holds before it is used.
class TableDecoder final : public CodeTable {
 public:
  // The table for `from` into `to`, built at the first call for that label; null when `to` is
  // not UTF-8, `from` is not a one- or two-byte encoding the table can stand for, or the
  // converter is not the C library's (a test replaced it through the system-call seam).
  static const TableDecoder* find(const std::string& from, const std::string& to);

  // Appends to `out` the UTF-8 of `in` from its start up to the first byte the table does not
  // know (or its end), and returns how many bytes of `in` that was: always a character boundary.
  size_t decode(std::string_view in, std::string& out) const;

  // The same, with the line ends rewritten by `eol` in the same pass (its counts and a CR it
  // holds back carry on from call to call, and to its own feed). Only when
  // rewrites_line_ends() and eol.rewrites_bytes().
  size_t decode(std::string_view in, std::string& out, EolRewriter& eol) const;
  // ASCII is itself and no other character decodes to a CR or LF: every line end of the output
  // is a CR or LF byte of the input, so the decoding loop can rewrite them as it copies.
  bool rewrites_line_ends() const override { return ascii_same_ && line_ends_ascii_; }

  size_t convert(std::string_view in, std::string& out) const override { return decode(in, out); }
  size_t convert(std::string_view in, std::string& out, EolRewriter& eol) const override {
    return decode(in, out, eol);
  }
  bool reusable() const override { return true; }

  // Built from `from` (a label iconv knows) for tests; empty when it cannot stand for iconv.
  static TableDecoder build(const std::string& from);
  bool usable() const { return usable_; }

 private:
  static constexpr uint32_t kLead = 0xFF000000u;

  // `eol` null: the plain decoding; set: line ends rewritten as they are copied.
  // Characters of a one-byte table eight at a time, without a branch, as long as all eight
  // have entries (and none is a line end to rewrite); returns where it stopped.
  template <bool kLineEnds>
  const unsigned char* run_of_singles(const unsigned char* p, const unsigned char* end, char*& o,
                                      bool ascii_same) const;
  template <bool kLineEnds, bool kVectors>
  size_t decode_into(const unsigned char* p, size_t n, char* out, size_t& written,
                     EolRewriter* eol) const;
  template <bool kLineEnds>
  size_t decode_to(std::string_view in, std::string& out, EolRewriter* eol) const;
  bool matches_iconv(const std::string& from) const;

  // Per byte: 0 (not known), kLead, or a character: UTF-8 length in the top byte, bytes below.
  uint32_t single_[256] = {};
  uint32_t no_line_ends_[256] = {};  // single_ without CR and LF
  std::vector<uint32_t> pairs_;      // [lead - 0x80][trail], as single_ without kLead
  bool ascii_same_ = false;          // bytes below 0x80 are themselves
  bool line_ends_ascii_ = false;     // no byte or pair above 0x7F decodes to a CR or LF
  size_t max_ratio_ = 3;             // output bytes per input byte at most
  bool usable_ = false;
};
