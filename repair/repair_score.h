// How plausible a piece of decoded text is, for comparing two readings of the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace repair {

// Points per non-ASCII character of `utf8` by the detection's language statistics, as the
// language it reads best as (above 0 reads as writing, below as noise; higher reads better);
// 0 for text with no non-ASCII character. At most the first 64 KiB are weighed.
double plausibility(std::string_view utf8);

// The same among the languages `encoding` is written in alone.
double plausibility_as(std::string_view utf8, const std::string& encoding);

// Characters above ASCII in `utf8` (counted as lead bytes).
size_t non_ascii_chars(std::string_view utf8);

}  // namespace repair
