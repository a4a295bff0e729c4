// The `rules:` list of the settings file: each a map of filter, to, eol and bom.
#pragma once

#include <yaml-cpp/yaml.h>

#include <string>
#include <vector>

#include "policy/rules.h"
#include "util/encoding_catalogue.h"

// The rules of a `rules:` value in order. Important: an entry with anything wrong (no map, no
// filter, an unknown encoding, eol or bom) is left out whole, never applied in part; why goes
// into `problems` ("rule 2 (*.sh): eol takes keep, lf or crlf, not \"unix\"").
std::vector<FileRule> read_rules(const YAML::Node& list, const EncodingList& encodings,
                                 std::vector<std::string>& problems);

// The `rules:` value for `rules`: `old` itself when it reads as the same rules, so a file keeps
// its own spelling and any extra keys; else the rules, then the entries of `old` that were left
// out as they were written, so that nothing in the file is lost.
YAML::Node write_rules(const std::vector<FileRule>& rules, const YAML::Node& old,
                       const EncodingList& encodings);
