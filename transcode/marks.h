// Byte-order marks of the target: kept from the source, added or removed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "transcode/charset.h"

// The bytes looked at for a mark: enough to see one repeated.
inline constexpr size_t kMarkHead = 64;

enum class BomMode { keep, add, remove };
// Important: what a run does without a mark setting, as before marks could be chosen: the
// source's own mark is dropped and only "UTF-8 with BOM" writes one.
inline constexpr BomMode kDefaultBom = BomMode::remove;

// "keep", "add", "remove" as settings and the command line spell them.
const char* bom_mode_name(BomMode mode);
// false for any other text (letter case ignored).
bool parse_bom_mode(std::string_view text, BomMode& mode);

// The mark a target of `form` starts with: `keep` gives one when the source had its own.
// Empty for a legacy target, and for UTF-16 and UTF-32 without a byte order, whose converter
// writes its own.
std::string_view target_mark(UnicodeForm form, BomMode mode, bool source_marked);
