// A main-window test: an AppState without a settings file, its file in a temporary directory.
#pragma once

#include <yaml-cpp/yaml.h>

#include <string>

#include "app/app_state.h"
#include "tests/support/imgui_fixture.h"
#include "tests/support/test_support.h"
#include "ui/main_window.h"
#include "ui/window_state.h"

struct ImGuiWindow;

// The log view's child window (its name ends in the identifier "##4" and an id).
ImGuiWindow* log_view_window();

class MainWindowTest : public ImGuiFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One frame of the main window as the frame loop draws it.
  Body body() {
    return [this] {
      if (draw_main_window(app_, window_, drag_)) ++quits_;
    };
  }
  void draw(int count = 1) { frames(count, body()); }
  void click(const std::string& id) { click_item(id, body()); }
  // Opens the "File" menu and clicks one of its items.
  void choose_file_menu(const std::string& item);

  // The settings file as written on disk now.
  YAML::Node saved() const { return YAML::LoadFile(config_path_); }
  // Every text one frame of the main window draws, child windows included.
  std::string drawn_text();
  // Log lines that contain `text`.
  int log_count(const std::string& text);

  testing_support::TempDir dir_;
  std::string config_path_;
  std::string initial_text_;
  AppState app_{AppState::no_config};
  WindowState window_;
  TitleDrag drag_;
  int quits_ = 0;
};
