// The preview tab: each file's encoding, evidence, planned outcome and sample, with a choice
// of encoding and a "leave out" box per file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "views/preview_rows.h"
#include "widgets/encoding_chooser.h"

struct AppState;

class PreviewView {
 public:
  // Follows app.preview: a new one is loaded, a dropped one forgotten. Cheap when nothing
  // changed; the panel calls it every frame, shown or not.
  void follow(const AppState& app);
  // follow(), then the filters and the table, which fills the rest of the space.
  void draw(AppState& app);
  // Why the preview went away, shown until the next one.
  void dropped(const char* why) { why_ = why; }

  const PreviewRows& rows() const { return rows_; }
  // Table rows submitted by the last draw (the clipper leaves out those out of sight).
  int rows_drawn() const { return rows_drawn_; }

 private:
  void draw_filters();
  void draw_outcome_combo();
  void draw_table(AppState& app);
  void draw_headers();
  void sort_if_asked();
  void draw_row(AppState& app, uint32_t index);
  void draw_encoding(AppState& app, uint32_t index);
  // The row's menu: its encoding for every file of its folder that needs a look.
  void draw_row_menu(AppState& app, uint32_t index);
  void draw_tooltip(uint32_t index) const;
  void take_rereads(const Preview& p);
  // The probe identifier "<prefix><path>" of a row in a reused buffer (tests only).
  const char* probe_id(const char* prefix, uint32_t index);

  PreviewRows rows_;
  const void* loaded_rows_ = nullptr;  // the preview's row storage when it was loaded
  size_t loaded_count_ = 0;
  size_t rereads_seen_ = 0;              // of the preview's rows read again, those refreshed here
  std::vector<int32_t> encoding_index_;  // per row: its encoding in the catalogue, or -1
  EncodingChooser chooser_;              // one list is open at a time
  int outcome_ = kAllOutcomes;
  bool look_only_ = false;
  std::string text_;
  bool resort_ = false;  // a new preview takes the table's sort
  std::string why_;
  int rows_drawn_ = 0;
  std::string probe_;
  std::string menu_label_;
  std::string before_after_;  // a repairable row's sample cell
  char look_label_[128] = {};
  char count_text_[128] = {};
};
