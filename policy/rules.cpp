// Matching files against the ordered rules.
#include "policy/rules.h"

std::string rule_label(size_t index, const FileRule& rule) {
  return "rule " + std::to_string(index + 1) + ": " + rule.filter;
}

RuleSet::RuleSet(const std::vector<FileRule>& rules) {
  for (const FileRule& r : rules) {
    auto entry = std::make_unique<Entry>();
    entry->rule = r;
    build_filter_set(entry->rule.filter, entry->set);
    entries_.push_back(std::move(entry));
  }
}

size_t RuleSet::match(std::string_view relative_path) const {
  // The walk matches "/dir/name"; a rule sees a file exactly as the run's filter does.
  std::string match_path;
  match_path.reserve(relative_path.size() + 1);
  match_path += '/';
  match_path += relative_path;
  for (size_t i = 0; i < entries_.size(); ++i) {
    // Important: an empty filter is the run's "every file"; a rule without one matches none.
    if (entries_[i]->rule.filter.empty()) continue;
    if (filter_accepts(entries_[i]->set, match_path)) return i;
  }
  return std::string::npos;
}
