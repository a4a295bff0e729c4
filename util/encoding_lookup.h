// Finding an encoding of the catalogue by the name a user typed, and close names when none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/encoding_catalogue.h"

// The entry named `name` exactly, else the one it stands for as the window's lists match names
// (any case, '-', '_' and blanks ignored, the usual aliases: "sjis", "latin1"), or nullptr.
const EncodingEntry* find_encoding(const EncodingList& encodings, std::string_view name);

// Up to `limit` catalogue names closest to `name`: the same letters and digits ignoring case,
// then small spelling distances. Empty when nothing is close.
std::vector<std::string> close_encoding_names(const EncodingList& encodings, std::string_view name,
                                              size_t limit = 3);

// The one line for an unknown name: `unknown encoding "utf8x" (did you mean "UTF-8"?)`.
std::string unknown_encoding_text(const EncodingList& encodings, std::string_view name);
