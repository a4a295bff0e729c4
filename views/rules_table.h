// The Rules tab: per-pattern rules to add, edit, reorder and remove; the first match decides.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "policy/rules.h"
#include "widgets/encoding_chooser.h"

// Kept between frames by its owner: the open To list and the probe names.
class RulesTable {
 public:
  // Draws the table over `rules` (edited in place) with the To list `encodings`. True in the
  // frame the rules changed.
  bool draw(std::vector<FileRule>& rules, const EncodingList& encodings);

 private:
  // One row's cells; what its buttons ask for is done after the table.
  enum class Move { none, up, down, remove };
  bool draw_row(size_t index, FileRule& rule, size_t count, const EncodingList& encodings,
                Move& move);
  bool draw_to(size_t index, FileRule& rule, const EncodingList& encodings);
  const char* probe(const char* what, size_t index);

  EncodingChooser to_;  // one list open at a time, whichever row it belongs to
  std::string probe_;
};
