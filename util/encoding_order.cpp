// Ordering and filtering of the encoding list.
#include "util/encoding_order.h"

#include <string.h>

#include <algorithm>
#include <array>

namespace {

struct CommonEncoding {
  const char* name;
  std::array<const char*, 3> aliases;  // folded forms a person may type for it
};

// Important: the aliases only order the list; picking always stores the catalogue's own name.
constexpr CommonEncoding kCommon[] = {
    {"UTF-8", {"UTF8", nullptr, nullptr}},         {"UTF-8 with BOM", {"UTF8BOM", "BOM", nullptr}},
    {"GBK", {nullptr, nullptr, nullptr}},          {"GB18030", {nullptr, nullptr, nullptr}},
    {"BIG5", {nullptr, nullptr, nullptr}},         {"CP932", {"WINDOWS31J", "MS932", nullptr}},
    {"SHIFT_JIS", {"SJIS", "MSKANJI", nullptr}},   {"EUC-JP", {nullptr, nullptr, nullptr}},
    {"CP949", {"UHC", nullptr, nullptr}},          {"EUC-KR", {nullptr, nullptr, nullptr}},
    {"CP1252", {"WINDOWS1252", nullptr, nullptr}}, {"ISO-8859-1", {"LATIN1", nullptr, nullptr}},
    {"CP1251", {"WINDOWS1251", nullptr, nullptr}}, {"KOI8-R", {nullptr, nullptr, nullptr}},
    {"UTF-16LE", {nullptr, nullptr, nullptr}},     {"UTF-16BE", {nullptr, nullptr, nullptr}},
};

int common_rank(const std::string& name) {
  for (size_t i = 0; i < std::size(kCommon); ++i)
    if (name == kCommon[i].name) return static_cast<int>(i);
  return -1;
}

std::string upper(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

std::string fold_encoding_name(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (c == '-' || c == '_' || c == ' ' || c == '\t') continue;
    out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

EncodingSorter::EncodingSorter(const EncodingList& catalogue) {
  entries_.reserve(catalogue.size());
  std::vector<std::string> keys;
  keys.reserve(catalogue.size());
  for (size_t i = 0; i < catalogue.size(); ++i) {
    entries_.push_back(Entry{static_cast<int32_t>(i), fold_encoding_name(catalogue[i].name),
                             common_rank(catalogue[i].name)});
    keys.push_back(upper(catalogue[i].name));
  }
  std::stable_sort(entries_.begin(), entries_.end(), [&keys](const Entry& a, const Entry& b) {
    return strverscmp(keys[static_cast<size_t>(a.position)].c_str(),
                      keys[static_cast<size_t>(b.position)].c_str()) < 0;
  });
}

bool EncodingSorter::common_matches(const Entry& e, const std::string& filter, bool whole) const {
  const auto hit = [&](const std::string& folded) {
    return whole ? folded == filter : folded.find(filter) != std::string::npos;
  };
  if (hit(e.folded)) return true;
  for (const char* alias : kCommon[e.common_rank].aliases)
    if (alias && hit(alias)) return true;
  return false;
}

int32_t EncodingSorter::find(std::string_view typed) const {
  const std::string key = fold_encoding_name(typed);
  if (key.empty()) return -1;
  const Entry* best = nullptr;
  for (const Entry& e : entries_) {
    const bool hit = e.common_rank >= 0 ? common_matches(e, key, true) : e.folded == key;
    if (!hit) continue;
    const bool better =
        best == nullptr ||
        (e.common_rank >= 0 && (best->common_rank < 0 || e.common_rank < best->common_rank));
    if (better) best = &e;
  }
  return best != nullptr ? best->position : -1;
}

EncodingOrder EncodingSorter::order(std::string_view filter_text) const {
  const std::string filter = fold_encoding_name(filter_text);
  // Tiers, best first; within a tier common names keep their group order, others stay sorted.
  enum Tier { kCommonEqual, kEqual, kCommonContains, kPrefix, kContains, kTiers, kNone };
  std::array<std::vector<const Entry*>, kTiers> tiers;
  for (const Entry& e : entries_) {
    Tier t = kNone;
    if (e.common_rank >= 0) {
      if (filter.empty() || common_matches(e, filter, false))
        t = !filter.empty() && common_matches(e, filter, true) ? kCommonEqual : kCommonContains;
    } else if (filter.empty() || e.folded.find(filter) != std::string::npos) {
      t = e.folded == filter ? kEqual : e.folded.rfind(filter, 0) == 0 ? kPrefix : kContains;
    }
    if (t != kNone) tiers[t].push_back(&e);
  }
  const auto by_group = [](const Entry* a, const Entry* b) {
    return a->common_rank < b->common_rank;
  };
  std::sort(tiers[kCommonEqual].begin(), tiers[kCommonEqual].end(), by_group);
  std::sort(tiers[kCommonContains].begin(), tiers[kCommonContains].end(), by_group);

  EncodingOrder out;
  out.common = tiers[kCommonEqual].size() + tiers[kCommonContains].size();
  for (int t : {kCommonEqual, kCommonContains, kEqual, kPrefix, kContains})
    for (const Entry* e : tiers[static_cast<size_t>(t)]) out.items.push_back(e->position);
  return out;
}
