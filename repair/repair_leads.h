// What a misreading makes of the first byte of a UTF-8 sequence: a test that rejects most
// clean text before any conversion.
#pragma once

#include <string>
#include <string_view>

namespace repair {

// The first characters of the runs of non-ASCII text in `text` (valid UTF-8): at most
// `max_runs` of them, in `max_bytes` from its first non-ASCII character; empty for ASCII.
std::u32string run_starts(std::string_view text, size_t max_runs, size_t max_bytes);

// False when some character of `starts` cannot be what `encoding` reads a UTF-8 lead byte
// (0xC2-0xF4) and its first continuation as: text misread through it begins each run of
// non-ASCII characters with one. True when unsure (an encoding it has no table of).
bool may_be_misread(std::u32string_view starts, const std::string& encoding);

}  // namespace repair
