// The catalogue of encoding names offered by both encoding combos.
#pragma once

#include <string>
#include <vector>

struct AppState;

using EncodingList = std::vector<std::string>;

inline constexpr const char* kUtf8WithBom = "UTF-8 with BOM";

// Listing callback: appends every name of one group (and "UTF-8 with BOM" after "UTF-8").
// `data` is the AppState. Always returns 0 (go on).
int add_encoding_group(unsigned int count, const char* const* names, void* data);

// Feeds every group the converter knows through add_encoding_group, then the final NUL.
void build_encoding_catalogue(AppState& app);
