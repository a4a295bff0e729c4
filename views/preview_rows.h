// The rows of the preview table: what each shows, which need a look, filters and sorting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "views/report_rows.h"

struct Preview;
struct FileReport;
struct PlannedFile;

// In the table's order: what a person reads first (does the sample read right?) comes first.
enum class PreviewColumn {
  leave_out,
  path,
  encoding,
  outcome,
  sample,
  evidence,
  size,
  line_ends,
  mark,
  rule
};

struct PreviewSortKey {
  PreviewColumn column = PreviewColumn::path;
  bool descending = false;
};

// Detected encodings below this confidence are worth a person's look.
inline constexpr int kLowConfidence = 60;

// Undetected, detected with a low confidence, or planned not to be converted; a file left
// out needs nothing.
bool needs_look(const FileReport& row, const PlannedFile& file);
// The planned outcome as the table shows it: "excluded" once the file is left out.
Outcome shown_outcome(const FileReport& row, const PlannedFile& file);
// The encoding the file will be read as: "" when detection found none, "ASCII" for a file
// of ASCII text unless one was chosen for it.
const std::string& shown_encoding(const FileReport& row, const PlannedFile& file);
// "912 B", "4.2 KB", "12.0 MB" into `out`.
void size_text(uint64_t bytes, char* out, size_t size);

class PreviewRows {
 public:
  // Rows of `preview` (null: none), in the order of no sort.
  void load(const Preview* preview);
  const Preview* preview() const { return preview_; }
  // After row `index` was read with another encoding or left out: its text and the counts.
  // It keeps its place until the filters or the sort change.
  void refresh(size_t index);

  size_t size() const { return paths_.size(); }
  // The path as shown: bytes that are not UTF-8 replaced.
  const std::string& path(size_t index) const { return paths_[index]; }
  // All, then each planned outcome present, with counts.
  const std::vector<OutcomeChoice>& choices() const { return choices_; }
  size_t look_count() const { return look_count_; }

  // Orders the rows by `keys`, the first deciding; with none, the rows that need a look
  // first, then the order the search found them in.
  void sort(const std::vector<PreviewSortKey>& keys);
  // Keeps the rows of outcome `outcome` (kAllOutcomes: any), only those that need a look
  // when `look_only`, whose path, encoding, sample or note contains `text`, ignoring case.
  void filter(int outcome, bool look_only, std::string_view text);
  // Indexes into the preview of the rows kept, in sorted order.
  const std::vector<uint32_t>& visible() const { return visible_; }
  // Sorts done so far (the table sorts only when its sort changes).
  int sorts() const { return sorts_; }

 private:
  void fold(size_t index);
  bool less(uint32_t a, uint32_t b, const std::vector<PreviewSortKey>& keys) const;
  void count();
  void apply();

  const Preview* preview_ = nullptr;
  std::vector<std::string> paths_;
  std::vector<std::string> folded_;  // per row: path, encoding, sample, notes; folded
  std::vector<uint32_t> order_;      // every row, sorted
  std::vector<uint32_t> visible_;
  std::vector<OutcomeChoice> choices_;
  size_t look_count_ = 0;
  int outcome_ = kAllOutcomes;
  bool look_only_ = false;
  std::string needle_;
  int sorts_ = 0;
};
