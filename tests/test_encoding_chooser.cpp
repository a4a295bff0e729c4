// The encoding lists: their order, what a typed filter keeps, and picking with few keys.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/ui_test_app.h"
#include "ui/encoding_order.h"

namespace {

// Catalogue names at the order's first `n` positions.
std::vector<std::string> first_names(const std::vector<std::string>& catalogue,
                                     const EncodingOrder& order, size_t n) {
  std::vector<std::string> out;
  for (size_t i = 0; i < std::min(n, order.items.size()); ++i)
    out.push_back(catalogue[static_cast<size_t>(order.items[i])]);
  return out;
}

class EncodingChooserTest : public MainWindowTest {
 protected:
  // Opens the list, types `text` one key at a time, presses Enter; returns the keys used.
  int pick_by_typing(const std::string& combo, const std::string& text) {
    click(combo);
    draw();
    int keys = 0;
    for (char c : text) {
      const char one[2] = {c, '\0'};
      type_text(one, body());
      ++keys;
    }
    press_key(ImGuiKey_Enter, body());
    draw();
    return keys + 1;
  }
  std::string name_at(int32_t index) const {
    return index >= 0 && static_cast<size_t>(index) < app_.encodings.size()
               ? app_.encodings[static_cast<size_t>(index)]
               : "";
  }
};

}  // namespace

// Picking UTF-8, SHIFT_JIS, KOI8-R or UTF-16LE takes at most six keys after the list opens.
TEST_F(EncodingChooserTest, CommonEncodingsInSixKeys) {
  struct Case {
    const char* combo;
    const char* typed;
    const char* expected;
  };
  for (const Case& c : {Case{"from", "utf8", "UTF-8"}, Case{"to", "sjis", "SHIFT_JIS"},
                        Case{"from", "koi8r", "KOI8-R"}, Case{"to", "16le", "UTF-16LE"}}) {
    const int keys = pick_by_typing(c.combo, c.typed);
    EXPECT_LE(keys, 6) << c.typed;
    EXPECT_EQ(name_at(std::string(c.combo) == "from" ? app_.from_index : app_.to_index), c.expected)
        << c.typed;
    EXPECT_FALSE(seen(std::string(c.combo) + "_popup")) << "list still open after " << c.typed;
  }
}
