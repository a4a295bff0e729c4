// The catalogue of encoding names offered by both encoding combos.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

struct LogBuffer;

inline constexpr const char* kUtf8WithBom = "UTF-8 with BOM";

// One entry of the catalogue: the name as offered and saved, what the converter is given,
// and whether the UTF-8 mark is written in front.
struct EncodingEntry {
  std::string name;
  std::string charset;
  // Important: only "UTF-8 with BOM" writes a mark; any other "X with BOM" reads as X and
  // writes none. This constructor is the one place the suffix is understood.
  bool utf8_mark = false;

  EncodingEntry() = default;
  EncodingEntry(std::string_view entry_name);  // NOLINT: names convert implicitly
  EncodingEntry(const char* entry_name) : EncodingEntry(std::string_view(entry_name)) {}
  EncodingEntry(const std::string& entry_name) : EncodingEntry(std::string_view(entry_name)) {}

  operator const std::string&() const { return name; }
  const char* c_str() const { return name.c_str(); }
  bool empty() const { return name.empty(); }
};

// Important: compare() and not ==, which would find these operators again through the
// implicit conversions and recurse.
inline bool operator==(const EncodingEntry& a, const EncodingEntry& b) {
  return a.name.compare(b.name) == 0;
}
inline bool operator==(const EncodingEntry& a, std::string_view b) {
  return a.name.compare(b) == 0;
}
inline bool operator==(const EncodingEntry& a, const char* b) { return a.name.compare(b) == 0; }
inline std::ostream& operator<<(std::ostream& os, const EncodingEntry& e) { return os << e.name; }

using EncodingList = std::vector<EncodingEntry>;

// Listing callback: appends every name of one group (and "UTF-8 with BOM" after "UTF-8").
// `data` is the EncodingList. Always returns 0 (go on).
int add_encoding_group(unsigned int count, const char* const* names, void* data);

// Feeds every group the converter knows through add_encoding_group. A converter that lists
// nothing gets a minimal list and one log line.
void build_encoding_catalogue(EncodingList& encodings, LogBuffer& log);

// Position of the first entry equal to `name` (case-sensitive), or the number of entries.
int32_t index_of(const EncodingList& encodings, std::string_view name);

// The entry at `index`, or nullptr when the index names none.
const EncodingEntry* entry_at(const EncodingList& encodings, int32_t index);
