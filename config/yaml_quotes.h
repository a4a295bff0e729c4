// Quoted scalars that the text never closes, which the YAML parser accepts silently.
#pragma once

#include <yaml-cpp/yaml.h>

#include <optional>
#include <string_view>

// The mark of the first quoted scalar in `doc` whose closing quote is missing from `text`,
// the text `doc` was parsed from. Important: yaml-cpp reads such a scalar to the end of the
// file instead of failing, so every key after a missing quote would be swallowed into one
// value and lost at the next save.
std::optional<YAML::Mark> unclosed_quote(const YAML::Node& doc, std::string_view text);
