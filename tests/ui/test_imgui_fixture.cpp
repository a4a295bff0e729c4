// The headless fixture itself: a probed button is found and a synthetic click reaches it.
#include "tests/support/imgui_fixture.h"
#include "widgets/ui_probe.h"

using FixtureTest = ImGuiFixture;

// A click on a reported widget's rectangle presses that widget exactly once.
TEST_F(FixtureTest, ClickReachesProbedButton) {
  int presses = 0;
  auto body = [&] {
    ImGui::Begin("w");
    if (ImGui::Button("Press")) ++presses;
    ui_probe::item("press");
    ImGui::End();
  };
  frame(body);
  ASSERT_TRUE(seen("press"));
  click_item("press", body);
  EXPECT_EQ(presses, 1);
}
