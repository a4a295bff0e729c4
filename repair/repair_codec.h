// Exact conversions between UTF-8 and one legacy encoding, for undoing a misreading.
#pragma once

#include <string>
#include <string_view>

namespace repair {

// Appends `utf8` in `encoding` to `out`; false when a character has no exact form there, the
// text is not UTF-8, or the encoding is unknown (then `out` holds a partial result).
bool encode_exact(std::string_view utf8, const std::string& encoding, std::string& out);

// Appends `bytes` read as `encoding`, in UTF-8, to `out`; false at an invalid or cut sequence.
bool decode_exact(std::string_view bytes, const std::string& encoding, std::string& out);

}  // namespace repair
