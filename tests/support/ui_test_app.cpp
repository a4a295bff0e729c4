// The main-window test set-up: a small settings file loaded the way the tool loads it.
#include "tests/support/ui_test_app.h"

#include <imgui_internal.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "widgets/file_dialog.h"

ImGuiWindow* log_view_window() {
  for (ImGuiWindow* w : GImGui->Windows)
    if (std::strstr(w->Name, "/##4_") != nullptr) return w;
  return nullptr;
}

void MainWindowTest::SetUp() {
  ImGuiFixture::SetUp();
  config_path_ = dir_ / "ouzel.yml";
  initial_text_ =
      "version: 3.0\n"
      "input: \"\"\n"
      "output: /tmp/ouzel-ui-test-out\n"
      "filters:\n"
      "  - \"*.cpp;*.h\"\n"
      "  - \"*.*\"\n"
      "filter-index: 0\n"
      "from: GBK\n"
      "to: UTF-8\n";
  testing_support::write_file(config_path_, initial_text_);
  app_.dpi_scale = 1.0f;
  app_.window_width = 800;
  app_.window_height = 500;
  app_.font_size = 15.0f;
  app_.load_config(config_path_);
  draw(2);  // first frames lay the window out
}

void MainWindowTest::TearDown() {
  app_.stop_worker();
  ImGuiFixture::TearDown();
}

void MainWindowTest::choose_file_menu(const std::string& item) {
  click("menu_file");
  draw();
  click(item);
}

int MainWindowTest::log_count(const std::string& text) {
  std::lock_guard guard(app_.log.lines_lock);
  int n = 0;
  for (const auto& line : app_.log.lines)
    if (line.find(text) != std::string::npos) ++n;
  return n;
}

std::string MainWindowTest::drawn_text() {
  // Into a file: the main window's End (it is no child window) finishes the log, and a
  // finished buffer is emptied.
  const std::string path = dir_ / "drawn.txt";
  std::remove(path.c_str());  // the library appends
  ImGui::NewFrame();
  ImGui::LogToFile(-1, path.c_str());
  if (draw_main_window(app_, window_, drag_)) ++quits_;
  ImGui::LogFinish();
  ImGui::Render();
  return testing_support::read_file(path);
}
