// The log view: long lines, selection and copying, the "Copy Log" item, and its lock use.
#include <imgui_internal.h>

#include <cstring>
#include <future>
#include <mutex>
#include <string>

#include "tests/support/ui_test_app.h"
#include "views/log_view.h"
#include "widgets/ui_probe.h"

namespace {

std::string clipboard() {
  const char* text = ImGui::GetClipboardText();
  return text ? text : "";
}

using LogViewTest = MainWindowTest;

// Read by the probe hook of DrawsOutsideTheLogLock, which cannot capture.
AppState* hooked_app = nullptr;
int free_while_drawing = 0;
int lines_checked = 0;

}  // namespace

// A line wider than the view can be scrolled to its end.
TEST_F(LogViewTest, LongLinesScrollSideways) {
  const std::string tail = "the end of a long line";
  app_.log.append("%s%s", std::string(400, 'x').c_str(), tail.c_str());
  draw(3);
  ImGuiWindow* view = log_view_window();
  ASSERT_NE(view, nullptr);
  const float width = ImGui::CalcTextSize(window_.log_view.text().c_str()).x;
  EXPECT_GT(width, view->Size.x);
  EXPECT_GE(view->ScrollMax.x + view->Size.x, width);
}

// The whole log is copied by "Copy Log" in the view's context menu, one "\n" per line;
// selected text is copied with Ctrl+C.
TEST_F(LogViewTest, CopyLogAndSelection) {
  app_.log.append("%s", "first line");
  app_.log.append("%s", "second line");
  draw(2);
  ImGuiIO& io = ImGui::GetIO();
  io.MousePos = rect("log").center();
  draw();
  io.MouseDown[1] = true;
  draw();
  io.MouseDown[1] = false;
  draw();
  click("copy_log");
  const std::string all = clipboard();
  EXPECT_NE(all.find("first line\n"), std::string::npos);
  EXPECT_NE(all.find("second line\n"), std::string::npos);
  EXPECT_EQ(all.find('\r'), std::string::npos);
  EXPECT_EQ(all, window_.log_view.text() + "\n");

  ImGui::SetClipboardText("");
  click("log");
  io.KeyCtrl = true;
  press_key(ImGuiKey_A, body());
  press_key(ImGuiKey_C, body());
  io.KeyCtrl = false;
  EXPECT_EQ(clipboard() + "\n", all);
}

// The text is drawn with the log's lock free: a worker appending meanwhile never waits for
// the window. Code holding the lock never appends (the view only reads under it).
TEST_F(LogViewTest, DrawsOutsideTheLogLock) {
  for (int i = 0; i < 5; ++i) app_.log.append("line %d", i);
  hooked_app = &app_;
  free_while_drawing = lines_checked = 0;
  const ui_probe::Hook fixture_hook = ui_probe::hook;
  ui_probe::hook = [](const char* id, const ImVec2&, const ImVec2&) {
    if (std::strncmp(id, "log.line:", 9) != 0) return;
    ++lines_checked;
    auto other_thread = std::async(std::launch::async, [] {
      std::unique_lock lock(hooked_app->log.text_lock, std::try_to_lock);
      return lock.owns_lock();
    });
    if (other_thread.get()) ++free_while_drawing;
  };
  draw();
  ui_probe::hook = fixture_hook;
  EXPECT_EQ(lines_checked, 5);
  EXPECT_EQ(free_while_drawing, lines_checked);
}

// Clearing the log empties the view; lines appended later show again.
TEST_F(LogViewTest, FollowsTheLogThroughClear) {
  app_.log.append("%s", "before");
  draw();
  EXPECT_NE(window_.log_view.text().find("before"), std::string::npos);
  click("clear_log");
  draw();
  EXPECT_EQ(window_.log_view.text(), "");
  app_.log.append("%s", "after");
  draw();
  EXPECT_NE(window_.log_view.text().find("after"), std::string::npos);
}

// Lines that fit leave the view without scroll bars; more lines add only the vertical one.
TEST_F(LogViewTest, ShortLogScrollsNowhere) {
  for (int i = 0; i < 3; ++i) app_.log.append("short line %d", i);
  draw(4);
  ImGuiWindow* view = log_view_window();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->ScrollMax.x, 0.0f);
  EXPECT_EQ(view->ScrollMax.y, 0.0f);
  EXPECT_FALSE(view->ScrollbarX);
  EXPECT_FALSE(view->ScrollbarY);

  // A long log scrolls down only, and its last line ends the view.
  for (int i = 0; i < 60; ++i) app_.log.append("short line %d", i);
  draw(4);
  EXPECT_FALSE(view->ScrollbarX);
  EXPECT_TRUE(view->ScrollbarY);
  EXPECT_EQ(view->Scroll.y, view->ScrollMax.y);
  EXPECT_LT(view->ContentSize.y - view->InnerRect.GetHeight() - view->ScrollMax.y, 1.0f);
}
