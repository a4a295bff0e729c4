// The "From Encoding" / "To Encoding" combo: a filter field on top of a clipped list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/encoding_order.h"

struct ImGuiInputTextCallbackData;

struct EncodingChooserIds {
  const char* label;        // the combo's label
  const char* probe;        // the closed combo; its items as "<probe>:<name>"
  const char* popup_probe;  // the list's visible rectangle
  const char* filter_probe;
};

// State of one combo while its list is open; kept between frames by its owner.
class EncodingChooser {
 public:
  // The combo over `names` with `index` as its current item (any value; out of range shows
  // `absent`: an encoding the catalogue lacks, or none). Typing filters, Up/Down move the
  // highlight, Enter or a click picks, Escape closes. True in the frame `index` changed.
  bool draw(const EncodingChooserIds& ids, int32_t& index, const EncodingList& names,
            const char* absent = "");

 private:
  void open(int32_t index, const EncodingList& names);
  void refilter();
  void move_highlight(int delta);
  bool draw_list(const EncodingChooserIds& ids, int32_t& index, const EncodingList& names);
  static int on_filter_key(ImGuiInputTextCallbackData* data);

  std::unique_ptr<EncodingSorter> sorter_;
  const EncodingList* sorted_names_ = nullptr;
  size_t sorted_count_ = 0;
  std::string filter_, filtered_for_;
  EncodingOrder order_;
  int highlight_ = 0;      // position in order_.items
  int reveal_frames_ = 0;  // frames in which the highlight is scrolled into view
  bool centre_ = false;    // ... into the middle of the list (when it opens)
};
