// The order the encoding lists show their names in, what a typed filter keeps, and the name a
// typed one stands for; shared by the window and the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/encoding_catalogue.h"

struct EncodingOrder {
  std::vector<int32_t> items;  // catalogue positions, in display order
  size_t common = 0;           // the first `common` items are the short group of common ones
};

// A name or typed text as it is compared: ASCII upper case, without '-', '_' and blanks.
std::string fold_encoding_name(std::string_view name);

// The names a person most often wants, in this order, those the catalogue has; every other
// name follows alphabetically (numbers by value: ISO-8859-2 before ISO-8859-10).
// With a filter only matching names stay, best first: common encodings whose name or usual
// alias equals it ("sjis" is SHIFT_JIS), other common ones containing it, then any other name
// equal to it ("cp936" is CP936), names beginning with it, names containing it.
class EncodingSorter {
 public:
  explicit EncodingSorter(const EncodingList& catalogue);
  EncodingOrder order(std::string_view filter) const;
  // The catalogue position of the name `typed` stands for whole (ignoring case, '-', '_' and
  // blanks, or a common encoding's usual alias), a common one first; -1 when none.
  int32_t find(std::string_view typed) const;

 private:
  struct Entry {
    int32_t position;
    std::string folded;
    int common_rank;  // position in the common group, or -1
  };
  bool common_matches(const Entry& e, const std::string& filter, bool whole) const;

  std::vector<Entry> entries_;  // every catalogue name, alphabetically
};
