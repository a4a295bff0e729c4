// The non-ASCII evidence of one file: its runs of bytes >= 0x80 with a little ASCII around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace detect {

struct Excerpt {
  std::string bytes;  // the segments, joined by '\n'
  struct Piece {
    size_t at;      // offset in `bytes`
    uint64_t from;  // offset in the file
  };
  std::vector<Piece> pieces;
  bool truncated = false;  // the file holds more non-ASCII text than `bytes` carries
  bool any_high = false;   // the file has at least one byte >= 0x80

  uint64_t file_offset(size_t at) const;  // file offset of an offset in `bytes`
};

// Cuts the evidence of `content`, at most about `max_bytes`. Runs less than four ASCII bytes
// apart stay one segment, so a multibyte character whose trail byte is ASCII is never split:
// a segment always starts after at least three plain ASCII bytes or at the file start.
Excerpt cut_excerpt(std::string_view content, size_t max_bytes);

bool has_high_byte(std::string_view content);

// True when `content` is valid UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool valid_utf8(std::string_view content);

// Line (1-based) and column (1-based, in bytes) of a file offset, for messages.
struct LineColumn {
  uint64_t line = 1;
  uint64_t column = 1;
};
LineColumn line_column(std::string_view content, uint64_t offset);

}  // namespace detect

namespace detect {

// Where two readings of `content` first part: "line 3: CP1252 reads “geht´s”, ISO-8859-15
// “gehtŽs”", each side at most about `max_chars` characters around the first character they
// read differently (lenient: a byte one of them cannot read shows as U+FFFD). "" when the
// readings agree over the first 64 KiB. With `b` empty, the one reading where it first
// leaves ASCII.
std::string first_difference(std::string_view content, const std::string& a, const std::string& b,
                             size_t max_chars = 40);

// The same, short and side by side for a table cell: "line 3: CP1252 “geht´s” │ ISO-8859-15
// “gehtŽs”".
std::string readings_apart(std::string_view content, const std::string& a, const std::string& b,
                           size_t max_chars = 14);

}  // namespace detect
