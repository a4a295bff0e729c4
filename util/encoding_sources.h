// Where the C library's encoding names come from: its converter cache or `iconv -l`.
#pragma once

#include <string>
#include <vector>

// One encoding per group: the canonical name first, then its aliases.
using EncodingGroups = std::vector<std::vector<std::string>>;

// The C library's compiled converter configuration, or empty when it cannot be found.
std::string gconv_cache_path();

// Every name the cache file holds (trailing '/' removed, "INTERNAL" left out), grouped by
// converter. False with `why` set when the file is missing or malformed.
bool groups_from_gconv_cache(const std::string& path, EncodingGroups& groups, std::string& why);

// Every name `iconv -l` prints, one group per name (its output carries no grouping).
bool groups_from_iconv_command(EncodingGroups& groups, std::string& why);

// The converter's names as the C library itself would resolve them (GCONV_PATH honoured).
bool list_encoding_groups(EncodingGroups& groups, std::string& why);

// Orders names the way `iconv -l` does (version order), the canonical name kept first in each
// group, and the groups by their first name.
void sort_groups(EncodingGroups& groups);
