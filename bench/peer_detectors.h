// The packaged detectors the tool is measured against: uchardet and ICU's charset detector,
// each asked plainly (no candidate list), per file or over a pool of files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace peers {

// uchardet's answer for `bytes`, or "" when it names none.
std::string uchardet_name(std::string_view bytes);

// uchardet's answer for `files` fed to it as one stream.
std::string uchardet_pooled(const std::vector<std::string_view>& files);

// The best match of ICU's detectAll for `bytes`, or "" when it has none.
std::string icu_name(std::string_view bytes);

// ICU's answer for `files` joined into one text.
std::string icu_pooled(const std::vector<std::string_view>& files);

// The glibc iconv name for a label either library gives ("ISO-8859-8-I" -> "ISO-8859-8").
std::string iconv_label(const std::string& name);

}  // namespace peers
