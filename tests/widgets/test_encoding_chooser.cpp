// The encoding lists: their order, what a typed filter keeps, and picking with few keys.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/ui_test_app.h"
#include "util/encoding_order.h"

namespace {

// Catalogue names at the order's first `n` positions.
std::vector<std::string> first_names(const EncodingList& catalogue, const EncodingOrder& order,
                                     size_t n) {
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

// Unfiltered: the common group in its order (those the catalogue has), then every other name
// once, alphabetically with numbers by value.
TEST(EncodingOrder, CommonGroupThenAlphabetical) {
  const EncodingList catalogue = {"ISO-8859-10", "utf-7", "GBK",   "ISO-8859-2",
                                  "UTF-8",       "ASCII", "BIG5",  "UTF-8 with BOM",
                                  "CP1252",      "SJIS",  "KOI8-R"};
  const EncodingOrder order = EncodingSorter(catalogue).order("");
  EXPECT_EQ(order.common, 6u);
  EXPECT_EQ(first_names(catalogue, order, 99),
            (std::vector<std::string>{"UTF-8", "UTF-8 with BOM", "GBK", "BIG5", "CP1252", "KOI8-R",
                                      "ASCII", "ISO-8859-2", "ISO-8859-10", "SJIS", "utf-7"}));
}

// Filters ignore case, "-", "_" and blanks; what a person means comes first: a common
// encoding by name or usual alias, then a name equal to the filter, then the rest.
TEST(EncodingOrder, FilterFindsWhatIsMeant) {
  AppState app(AppState::no_config);
  const EncodingList& names = app.encodings;
  ASSERT_GT(names.size(), 1000u) << "the converter's own list";
  const EncodingSorter sorter(names);
  const auto first = [&](const char* filter, size_t n) {
    return first_names(names, sorter.order(filter), n);
  };
  EXPECT_EQ(first("sjis", 1), std::vector<std::string>{"SHIFT_JIS"});
  const EncodingOrder sjis = sorter.order("sjis");
  const auto has = [&](const EncodingOrder& o, const char* name) {
    return std::find(o.items.begin(), o.items.end(), app.index_of(name)) != o.items.end();
  };
  EXPECT_TRUE(has(sjis, "SJIS"));
  EXPECT_FALSE(has(sjis, "GBK"));
  EXPECT_EQ(first("utf8", 2), (std::vector<std::string>{"UTF-8", "UTF-8 with BOM"}));
  EXPECT_EQ(first("cp936", 1), std::vector<std::string>{"CP936"});
  EXPECT_EQ(first("koi8r", 1), std::vector<std::string>{"KOI8-R"});
  EXPECT_EQ(first("Shift-Jis", 1), first("shift_jis", 1));
  EXPECT_EQ(first(" u t f 1 6 l e ", 1), std::vector<std::string>{"UTF-16LE"});
  EXPECT_TRUE(sorter.order("no such encoding").items.empty());
}

// Arrows move the highlight and Enter picks it; Escape closes and changes nothing.
TEST_F(EncodingChooserTest, ArrowsEnterAndEscape) {
  const EncodingOrder order = EncodingSorter(app_.encodings).order("");
  app_.from_index = order.items[0];
  click("from");
  draw();
  EXPECT_TRUE(seen("from_filter"));
  press_key(ImGuiKey_DownArrow, body());
  press_key(ImGuiKey_DownArrow, body());
  press_key(ImGuiKey_UpArrow, body());
  press_key(ImGuiKey_Enter, body());
  draw();
  EXPECT_EQ(app_.from_index, order.items[1]);
  EXPECT_FALSE(seen("from_popup"));

  const int32_t to_before = app_.to_index;
  click("to");
  draw();
  type_text("gb", body());
  press_key(ImGuiKey_Escape, body());
  draw();
  EXPECT_FALSE(seen("to_popup"));
  EXPECT_EQ(app_.to_index, to_before);
}

// A click on a filtered item picks it; the catalogue index keeps its meaning.
TEST_F(EncodingChooserTest, ClickPicksCatalogueName) {
  click("to");
  draw();
  type_text("euc", body());
  draw();
  click("to:EUC-KR");
  EXPECT_EQ(name_at(app_.to_index), "EUC-KR");
  EXPECT_EQ(app_.to_index, app_.index_of("EUC-KR"));
}

// The open list draws only the rows in view, not all of the catalogue's names.
TEST_F(EncodingChooserTest, ListDrawsOnlyVisibleRows) {
  ASSERT_GT(app_.encodings.size(), 1000u);
  click("from");
  draw(2);
  EXPECT_GT(count_seen("from:"), 5);
  EXPECT_LT(count_seen("from:"), 40);
}
