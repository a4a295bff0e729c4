// The writing system of a file's UTF-8 lines, which tells the family of its other lines.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "detect/detect_model.h"

namespace repair {

// The families a legacy encoding of the same language as `utf8` (UTF-8 text) belongs to, when
// its letters are clearly of one script that only some families write: Hangul, kana, Han,
// Cyrillic, Greek, Hebrew, Arabic or Thai. Empty for Latin text, for fewer than `min_letters`
// letters and for a blend of scripts.
std::vector<detect::Family> families_of_script(std::string_view utf8, size_t min_letters = 3);

}  // namespace repair
