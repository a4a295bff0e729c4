// Report rows: ordering, display texts, case folding and the two filters.
#include "views/report_rows.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "report/outcome.h"
#include "transcode/utf8.h"
#include "util/i18n.h"
#include "util/strfmt.h"

std::string fold_case(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto length = static_cast<int32_t>(utf8.size());
  for (int32_t i = 0; i < length;) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      out.append(utf8.data() + start, static_cast<size_t>(i - start));
      continue;
    }
    uint8_t buf[U8_MAX_LENGTH];
    int32_t n = 0;
    U8_APPEND_UNSAFE(buf, n, u_foldCase(c, U_FOLD_CASE_DEFAULT));  // a code point always fits
    out.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
  }
  return out;
}

void ReportRows::add(const FileReport& entry) {
  ReportRow row;
  row.entry = &entry;
  row.path = utf8_or_replacement(entry.path);
  row.detail = utf8_or_replacement(detail_text(entry));
  if (entry.confidence >= 0) row.confidence = std::to_string(entry.confidence);
  if (!entry.evidence.empty() && entry.evidence != "chosen") has_evidence_ = true;
  folded_.push_back(fold_case(row.path + '\n' + row.detail));
  rows_.push_back(std::move(row));
}

void ReportRows::load(std::shared_ptr<const JobReport> report) {
  report_ = std::move(report);
  rows_.clear();
  folded_.clear();
  has_evidence_ = false;
  if (report_) {
    rows_.reserve(report_->entries());
    folded_.reserve(report_->entries());
    for (const FileReport& f : report_->search_failures) add(f);
    for (const FileReport& f : report_->files)
      if (outcome_is_failure(f.outcome)) add(f);
    for (const FileReport& f : report_->files)
      if (!outcome_is_failure(f.outcome)) add(f);
  }
  make_choices();
  apply(kAllOutcomes, {});
}

void ReportRows::make_choices() {
  choices_.clear();
  if (!report_) return;
  choices_.push_back({kAllOutcomes, kestrum::strfmt(_("All (%zu)"), rows_.size())});
  if (const size_t failed = report_->failures(); failed > 0)
    choices_.push_back({kFailedOutcomes, kestrum::strfmt(_("Not converted (%zu)"), failed)});
  const OutcomeCounts counts = report_->counts();
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    const std::string name(outcome_name(static_cast<Outcome>(i)));
    choices_.push_back({static_cast<int>(i), kestrum::strfmt("%s (%zu)", name.c_str(), counts[i])});
  }
}

void ReportRows::apply(int outcome, std::string_view text) {
  visible_.clear();
  const std::string needle = fold_case(text);
  for (size_t i = 0; i < rows_.size(); ++i) {
    const Outcome o = rows_[i].entry->outcome;
    const bool kept =
        outcome == kAllOutcomes ||
        (outcome == kFailedOutcomes ? outcome_is_failure(o) : static_cast<int>(o) == outcome);
    if (kept && (needle.empty() || folded_[i].find(needle) != std::string::npos))
      visible_.push_back(static_cast<uint32_t>(i));
  }
}
