// Per-pattern rules: the first whose filter accepts a file decides its target, line ends, mark.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "policy/filter.h"
#include "transcode/line_endings.h"
#include "transcode/marks.h"
#include "util/encoding_catalogue.h"

// One rule as the settings hold it; what it leaves out is filled by what comes after it.
struct FileRule {
  std::string filter;  // the filter syntax ("*.cpp;*.h")
  EncodingEntry to;    // a To-list name; empty: not set
  std::optional<EolMode> eol;
  std::optional<BomMode> bom;

  bool operator==(const FileRule& other) const {
    return filter == other.filter && to.name == other.to.name && eol == other.eol &&
           bom == other.bom;
  }
};

// "rule 2: *.cpp;*.h": how the preview and the report name the rule that decided.
std::string rule_label(size_t index, const FileRule& rule);

// The rules compiled once for a run; shared read-only by the conversion threads.
class RuleSet {
 public:
  explicit RuleSet(const std::vector<FileRule>& rules);
  RuleSet(const RuleSet&) = delete;
  RuleSet& operator=(const RuleSet&) = delete;

  // The index of the first rule accepting "a/b/name" (relative to the input), or npos.
  size_t match(std::string_view relative_path) const;
  const FileRule& rule(size_t index) const { return entries_[index]->rule; }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

 private:
  struct Entry {
    FileRule rule;
    // Important: views into rule.filter; the entry never moves once built.
    filter_set set;
  };
  std::vector<std::unique_ptr<Entry>> entries_;
};
