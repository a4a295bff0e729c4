// Where the C library's encoding names come from: its converter cache or `iconv -l`.
#pragma once

#include <string>
#include <vector>

#include "platform/result.h"

// One encoding per group: the canonical name first, then its aliases.
using EncodingGroups = std::vector<std::vector<std::string>>;

// The C library's compiled converter configuration, or empty when it cannot be found.
std::string gconv_cache_path();

// Every name the cache file holds (trailing '/' removed, "INTERNAL" left out), grouped by
// converter. A file missing or malformed (EINVAL) fails; the error's context is the line for a
// person, naming the file and what is wrong with it, here and below.
platform::Result<EncodingGroups> groups_from_gconv_cache(const std::string& path);

// Every name `iconv -l` prints, one group per name (its output carries no grouping).
platform::Result<EncodingGroups> groups_from_iconv_command();

// The converter's names as the C library itself would resolve them (GCONV_PATH honoured).
platform::Result<EncodingGroups> list_encoding_groups();

// Orders names the way `iconv -l` does (version order), the canonical name kept first in each
// group, and the groups by their first name.
void sort_groups(EncodingGroups& groups);
