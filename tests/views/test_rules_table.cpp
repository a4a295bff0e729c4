// The Rules tab as a person uses it: add, edit, reorder, remove, and what Save Config writes.
#include <string>

#include "tests/support/ui_test_app.h"

namespace {

class RulesTableTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    draw();
    click("tab.rules");
    draw();
  }
  void add_rule(const char* filter) {
    click("rules.add");
    draw();
    const std::string field = "rules.filter:" + std::to_string(app_.rules.size());
    click(field);
    type_text(filter, body());
    draw();
  }
  void choose(const std::string& combo, const std::string& item) {
    click(combo);
    draw();
    click(combo + ":" + item);
    draw();
  }
  std::vector<std::string> filters() const {
    std::vector<std::string> out;
    for (const FileRule& r : app_.rules) out.push_back(r.filter);
    return out;
  }
};

}  // namespace

// Two rules typed in and set through their combos; Save Config writes them in order, and a
// combo set back to "Run's" leaves the setting out.
TEST_F(RulesTableTest, AddEditAndSave) {
  add_rule("*.cpp;*.h");
  choose("rules.eol:1", "CRLF");
  choose("rules.bom:1", "Add");
  click("rules.to:1");
  draw();
  for (const char* key : {"U", "T", "F", "-", "1", "6", "L", "E"}) type_text(key, body());
  press_key(ImGuiKey_Enter, body());
  draw();
  add_rule("*.sh");
  choose("rules.bom:2", "Remove");
  ASSERT_EQ(app_.rules.size(), 2u);
  EXPECT_EQ(app_.rules[0].filter, "*.cpp;*.h");
  EXPECT_EQ(app_.rules[0].to.name, "UTF-16LE");
  EXPECT_EQ(app_.rules[0].eol, EolMode::crlf);
  EXPECT_EQ(app_.rules[0].bom, BomMode::add);
  EXPECT_TRUE(app_.rules[1].to.empty());
  EXPECT_FALSE(app_.rules[1].eol);
  choose("rules.bom:1", "Run's");
  EXPECT_FALSE(app_.rules[0].bom);
  choose_file_menu("save_config");
  const YAML::Node list = saved()["rules"];
  ASSERT_TRUE(list.IsSequence());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["filter"].Scalar(), "*.cpp;*.h");
  EXPECT_EQ(list[0]["to"].Scalar(), "UTF-16LE");
  EXPECT_EQ(list[0]["eol"].Scalar(), "crlf");
  EXPECT_FALSE(list[0]["bom"].IsDefined());
  EXPECT_EQ(list[1]["bom"].Scalar(), "remove");
  EXPECT_FALSE(list[1]["to"].IsDefined());
  // The To setting cleared goes back to the run's.
  click("rules.to_clear:1");
  draw();
  EXPECT_TRUE(app_.rules[0].to.empty());
}

// Up and down swap neighbours (the first has no up, the last no down); Remove takes one out.
TEST_F(RulesTableTest, ReorderAndRemove) {
  app_.rules = {FileRule{"*.a", {}, {}, {}}, FileRule{"*.b", {}, {}, {}},
                FileRule{"*.c", {}, {}, {}}};
  draw();
  click("rules.up:1");  // disabled: nothing moves
  draw();
  EXPECT_EQ(filters(), (std::vector<std::string>{"*.a", "*.b", "*.c"}));
  click("rules.up:3");
  draw();
  EXPECT_EQ(filters(), (std::vector<std::string>{"*.a", "*.c", "*.b"}));
  click("rules.down:1");
  draw();
  EXPECT_EQ(filters(), (std::vector<std::string>{"*.c", "*.a", "*.b"}));
  click("rules.down:3");
  draw();
  EXPECT_EQ(filters(), (std::vector<std::string>{"*.c", "*.a", "*.b"}));
  click("rules.remove:2");
  draw();
  EXPECT_EQ(filters(), (std::vector<std::string>{"*.c", "*.b"}));
  EXPECT_FALSE(seen("rules.filter:3"));
}

// A preview made before the rules changed is dropped: it no longer says what would happen.
TEST_F(RulesTableTest, ChangedRulesDropThePreview) {
  app_.preview.emplace();
  app_.preview->plan = *app_.plan_from_settings();
  draw();
  ASSERT_TRUE(app_.preview.has_value());
  add_rule("*.txt");
  EXPECT_EQ(app_.plan_from_settings()->options.rules.size(), 1u);
  EXPECT_FALSE(app_.preview.has_value());
}

// "Follow .editorconfig" on the Rules tab: a click ticks it, Save Config writes it, a second
// click unticks it; the rules table below it still works.
TEST_F(RulesTableTest, FollowEditorconfigBox) {
  EXPECT_FALSE(app_.editorconfig);
  click("editorconfig");
  draw();
  EXPECT_TRUE(app_.editorconfig);
  EXPECT_TRUE(app_.plan_from_settings()->options.editorconfig);
  choose_file_menu("save_config");
  EXPECT_EQ(saved()["editorconfig"].Scalar(), "true");
  add_rule("*.sh");
  EXPECT_EQ(filters(), std::vector<std::string>{"*.sh"});
  click("editorconfig");
  draw();
  EXPECT_FALSE(app_.editorconfig);
}
