// Preview rows: the flag for files worth a look, counts, sorting by any column, filters.
#include "views/preview_rows.h"

#include <algorithm>
#include <cstdio>

#include "app/app_state.h"
#include "report/outcome.h"
#include "transcode/marks.h"
#include "transcode/utf8.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

const std::string kNoEncoding;
const std::string kAscii = "ASCII";

// Least sure first: undetected, then by confidence; a choice made by hand is surest.
int certainty(const FileReport& row) {
  if (outcome_is_unsettled(row.outcome)) return -1;
  return row.confidence >= 0 ? row.confidence : 101;
}

template <typename T>
int compare(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

bool needs_look(const FileReport& row, const PlannedFile& file) {
  if (file.excluded) return false;
  if (outcome_is_failure(row.outcome)) return true;
  return row.confidence >= 0 && row.confidence < kLowConfidence;
}

Outcome shown_outcome(const FileReport& row, const PlannedFile& file) {
  return file.excluded ? Outcome::excluded : row.outcome;
}

const std::string& shown_encoding(const FileReport& row, const PlannedFile& file) {
  if (outcome_is_unsettled(row.outcome) && file.source.empty()) return kNoEncoding;
  // Read as any candidate it is the same text, written without converting.
  if (row.outcome == Outcome::ascii && row.evidence != "override") return kAscii;
  return row.source;
}

void size_text(uint64_t bytes, char* out, size_t size) {
  if (bytes < 1024) {
    std::snprintf(out, size, "%llu B", static_cast<unsigned long long>(bytes));
    return;
  }
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(units)) {
    value /= 1024.0;
    ++unit;
  }
  std::snprintf(out, size, "%.1f %s", value, units[unit]);
}

void PreviewRows::load(const Preview* preview) {
  preview_ = preview;
  const size_t n = preview ? preview->rows.size() : 0;
  paths_.clear();
  folded_.assign(n, std::string());
  paths_.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    paths_.push_back(utf8_or_replacement(preview->rows[i].path));
    fold(i);
  }
  count();
  sort({});
  apply();
}

void PreviewRows::refresh(size_t index) {
  if (!preview_ || index >= paths_.size()) return;
  fold(index);
  count();
}

void PreviewRows::fold(size_t index) {
  const FileReport& row = preview_->rows[index];
  std::string text = paths_[index];
  for (const std::string* part : {&shown_encoding(row, preview_->files[index]), &row.sample,
                                  &row.repaired_sample, &row.detection_note, &row.note})
    text.append(1, '\n').append(*part);
  folded_[index] = fold_case(utf8_or_replacement(text));
}

void PreviewRows::count() {
  choices_.clear();
  look_count_ = 0;
  if (!preview_) return;
  OutcomeCounts counts{};
  for (size_t i = 0; i < paths_.size(); ++i) {
    const FileReport& row = preview_->rows[i];
    const PlannedFile& file = preview_->files[i];
    ++counts[static_cast<size_t>(shown_outcome(row, file))];
    if (needs_look(row, file)) ++look_count_;
  }
  choices_.push_back({kAllOutcomes, kestrum::strfmt(_("All (%zu)"), paths_.size())});
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    const std::string name(outcome_name(static_cast<Outcome>(i)));
    choices_.push_back({static_cast<int>(i), kestrum::strfmt("%s (%zu)", name.c_str(), counts[i])});
  }
}

bool PreviewRows::less(uint32_t a, uint32_t b, const std::vector<PreviewSortKey>& keys) const {
  const FileReport& ra = preview_->rows[a];
  const FileReport& rb = preview_->rows[b];
  const PlannedFile& fa = preview_->files[a];
  const PlannedFile& fb = preview_->files[b];
  for (const PreviewSortKey& key : keys) {
    int c = 0;
    switch (key.column) {
      case PreviewColumn::leave_out:
        c = compare(fa.excluded, fb.excluded);
        break;
      case PreviewColumn::path:
        c = compare(paths_[a], paths_[b]);
        break;
      case PreviewColumn::size:
        c = compare(ra.bytes, rb.bytes);
        break;
      case PreviewColumn::encoding:
        c = compare(shown_encoding(ra, fa), shown_encoding(rb, fb));
        break;
      case PreviewColumn::evidence:
        c = compare(certainty(ra), certainty(rb));
        if (c == 0) c = compare(ra.evidence, rb.evidence);
        break;
      case PreviewColumn::outcome:
        c = compare(outcome_name(shown_outcome(ra, fa)), outcome_name(shown_outcome(rb, fb)));
        break;
      case PreviewColumn::sample:
        c = compare(ra.sample, rb.sample);
        break;
      case PreviewColumn::line_ends:
        c = compare(eol_change_text(ra), eol_change_text(rb));
        break;
      case PreviewColumn::mark:
        c = compare(mark_change_text(ra), mark_change_text(rb));
        break;
      case PreviewColumn::rule:
        c = compare(ra.rule, rb.rule);
        break;
    }
    if (c != 0) return key.descending ? c > 0 : c < 0;
  }
  return a < b;
}

void PreviewRows::sort(const std::vector<PreviewSortKey>& keys) {
  ++sorts_;
  order_.resize(paths_.size());
  for (size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<uint32_t>(i);
  if (keys.empty()) {
    std::stable_partition(order_.begin(), order_.end(), [this](uint32_t i) {
      return needs_look(preview_->rows[i], preview_->files[i]);
    });
  } else {
    std::sort(order_.begin(), order_.end(),
              [&](uint32_t a, uint32_t b) { return less(a, b, keys); });
  }
  apply();
}

void PreviewRows::filter(int outcome, bool look_only, std::string_view text) {
  outcome_ = outcome;
  look_only_ = look_only;
  needle_ = fold_case(text);
  apply();
}

void PreviewRows::apply() {
  visible_.clear();
  for (uint32_t i : order_) {
    const FileReport& row = preview_->rows[i];
    const PlannedFile& file = preview_->files[i];
    if (outcome_ != kAllOutcomes && static_cast<int>(shown_outcome(row, file)) != outcome_)
      continue;
    if (look_only_ && !needs_look(row, file)) continue;
    if (!needle_.empty() && folded_[i].find(needle_) == std::string::npos) continue;
    visible_.push_back(i);
  }
}
