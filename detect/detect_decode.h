// Decoding byte strings into code points for detection, through the platform's iconv seam.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace detect {

// Outcome of one strict decoding.
struct Decoded {
  bool ok = false;           // the whole input was read, no invalid or incomplete sequence
  bool unsupported = false;  // iconv does not know the encoding
  bool incomplete = false;   // stopped at a sequence cut off by the end of the input
  size_t stop = 0;           // input offset where decoding stopped (== size when ok)
};

// Appends the code points of `in` read as `encoding` to `out`, up to the first bad sequence.
// Important: the converter is reset before each call, so no shift state (ISO-2022) leaks.
Decoded decode_strict(std::string_view in, const std::string& encoding, std::u32string& out);

// The same into a caller's buffer of `capacity` code points (one per input byte is enough for
// every ASCII-compatible encoding); *made is the count written.
Decoded decode_into(std::string_view in, const std::string& encoding, char32_t* out,
                    size_t capacity, size_t* made);

// Like decode_strict, but an invalid byte becomes U+FFFD and decoding goes on; an incomplete
// sequence at the end becomes one U+FFFD. False when the encoding is unknown.
bool decode_lenient(std::string_view in, const std::string& encoding, std::u32string& out);

// True when all of `in` converts from `encoding` with no invalid or incomplete sequence; on
// failure `*stop` is the offset of the bad sequence. Memory stays small whatever the size.
bool check_strict(std::string_view in, const std::string& encoding, size_t* stop = nullptr);

// The bytes of `c` in `encoding`; "" when it has none.
std::string encode_char(char32_t c, const std::string& encoding);

// Appends the UTF-8 form of `text`.
void append_utf8(std::string& out, std::u32string_view text);
void append_utf8(std::string& out, char32_t c);

}  // namespace detect
