// The rows of the report view: made once per report, filtered by outcome and by text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/report.h"

struct ReportRow {
  const FileReport* entry = nullptr;  // inside the report the rows were made from
  std::string path;                   // as shown: bytes that are not UTF-8 replaced
  std::string detail;                 // detail_text
  std::string confidence;             // "" when none
};

// One entry of the outcome filter: everything, every failure, or one outcome.
struct OutcomeChoice {
  int value = 0;      // kAllOutcomes, kFailedOutcomes or an Outcome
  std::string label;  // "All (50000)", "Not converted (12)", "cannot-convert (12)"
};

inline constexpr int kAllOutcomes = -2;
inline constexpr int kFailedOutcomes = -1;

// Case folding for the text filter: Unicode simple case folding, bytes that are not UTF-8
// kept as they are.
std::string fold_case(std::string_view utf8);

class ReportRows {
 public:
  // Rows of `report` (null: none): failures first, then the rest, each in search order,
  // with directories the search could not list ahead of the files.
  void load(std::shared_ptr<const JobReport> report);
  const std::shared_ptr<const JobReport>& report() const { return report_; }

  size_t size() const { return rows_.size(); }
  const ReportRow& row(size_t i) const { return rows_[i]; }
  // Some entry's source was found by detection: the evidence columns are worth showing.
  bool has_evidence() const { return has_evidence_; }
  // All, not converted (when any), then each outcome present, with counts.
  const std::vector<OutcomeChoice>& choices() const { return choices_; }

  // Keeps the rows of outcome `outcome` whose path or detail contains `text`, ignoring case.
  void apply(int outcome, std::string_view text);
  // Indexes of the rows kept by the last apply, in row order.
  const std::vector<uint32_t>& visible() const { return visible_; }

 private:
  void add(const FileReport& entry);
  void make_choices();

  std::shared_ptr<const JobReport> report_;
  std::vector<ReportRow> rows_;
  std::vector<std::string> folded_;  // per row: path, a newline, detail; folded
  std::vector<OutcomeChoice> choices_;
  std::vector<uint32_t> visible_;
  bool has_evidence_ = false;
};
