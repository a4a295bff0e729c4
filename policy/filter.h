// Wildcard filter lists ("*.cpp;*.h;!test") parsed into pattern predicates.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fsutil.h"

// Predicate(match path, extension, decides_alone_flag_out) -> bool.
using filter_pattern = std::function<bool(const std::string_view&, const std::string_view&, bool&)>;

struct filter_set {
  bool match_all = false;
  // Important: the patterns hold views into the filter string, which must outlive the set.
  std::vector<filter_pattern> patterns;
};

// Appends the patterns of the ';'-separated items of `filter`.
void parse_filters(const char* filter, size_t length, filter_set& set);

// The job's rule: empty or containing "*.*" matches everything, else parse_filters.
void build_filter_set(const std::string& filter, filter_set& set);

// Whether a regular file with this match path ("/dir/sub/name") is accepted.
bool filter_accepts(const filter_set& set, std::string_view match_path);

// The walk's test for `set` (which must outlive it); empty when the set matches everything.
fsutil::search_accept accept_by(const filter_set& set);
