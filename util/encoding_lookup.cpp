// Encoding names typed by users: exact lookup and suggestions by spelling distance.
#include "util/encoding_lookup.h"

#include <algorithm>
#include <cctype>

#include "util/encoding_order.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

constexpr size_t kMaxDistance = 2;

// Letters and digits only, upper case: "utf_8" and "UTF-8" read the same.
std::string folded(std::string_view s) {
  std::string out;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) != 0) out += static_cast<char>(std::toupper(u));
  }
  return out;
}

// Levenshtein distance, one row at a time.
size_t distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

const EncodingEntry* find_encoding(const EncodingList& encodings, std::string_view name) {
  if (const EncodingEntry* exact = entry_at(encodings, index_of(encodings, name))) return exact;
  return entry_at(encodings, EncodingSorter(encodings).find(name));
}

std::vector<std::string> close_encoding_names(const EncodingList& encodings, std::string_view name,
                                              size_t limit) {
  const std::string key = folded(name);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const EncodingEntry& e : encodings) {
    const std::string other = folded(e.name);
    // Short names are all close to each other; only a longer name may differ more.
    const size_t allowed = std::min(kMaxDistance, std::max<size_t>(key.size(), 1) / 3);
    const size_t d = key.empty() ? kMaxDistance + 1 : distance(key, other);
    if (d <= allowed) ranked.emplace_back(d, e.name);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> names;
  for (const auto& [d, n] : ranked) {
    if (names.size() == limit) break;
    if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
  }
  return names;
}

std::string unknown_encoding_text(const EncodingList& encodings, std::string_view name) {
  const std::string typed(name);
  const std::vector<std::string> close = close_encoding_names(encodings, name);
  if (close.empty())
    return kestrum::strfmt(_("unknown encoding \"%s\"; --list-encodings prints every name"),
                           typed.c_str());
  std::string names;
  for (const std::string& n : close) names += (names.empty() ? "\"" : ", \"") + n + "\"";
  return kestrum::strfmt(_("unknown encoding \"%s\" (did you mean %s?)"), typed.c_str(),
                         names.c_str());
}
