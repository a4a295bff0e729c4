// The conversion panel: throughput text, start rule, directory field, "Clear Log", log view.
#include <imgui_internal.h>

#include <cstring>
#include <mutex>
#include <string>

#include "tests/support/ui_test_app.h"
#include "ui/conversion_panel.h"
#include "util/i18n.h"
#include "views/throughput.h"
#include "widgets/filter_items.h"

using testing_support::read_file;

namespace {

std::string speed_text(double bytes_per_second) {
  char buf[128];
  format_speed(bytes_per_second, buf, sizeof buf);
  return buf;
}

// Every text the panel draws in one frame, captured through the GUI library's text log,
// which runs from inside a window to that window's end.
std::string panel_text(AppState& app, WindowState& window) {
  ImGui::NewFrame();
  ImGui::Begin("panel");
  ImGui::LogToBuffer();
  draw_conversion_panel(app, window);
  std::string text = GImGui->LogBuffer.c_str();
  ImGui::LogFinish();
  GImGui->LogBuffer.clear();
  ImGui::End();
  ImGui::Render();
  return text;
}

}  // namespace

// Units switch at "at least" 1024, 2^20 and 2^30 bytes per second.
TEST(Throughput, UnitThresholds) {
  EXPECT_EQ(speed_text(0), "0B");
  EXPECT_EQ(speed_text(1023), "1023B");
  EXPECT_EQ(speed_text(1024), "1KB");
  EXPECT_EQ(speed_text(3072), "3KB");
  EXPECT_EQ(speed_text(1048575), "1024KB");
  EXPECT_EQ(speed_text(1.5 * 1048576), "1.5MB");
  EXPECT_EQ(speed_text(1073741824.0), "1.0GB");
}

using ConversionPanelTest = MainWindowTest;

// The panel shows the current speed with "/s" after it.
TEST_F(ConversionPanelTest, ShowsThroughput) {
  ProgressSnapshot p;
  p.speed = 3072.0f;
  app_.jobs.publish(p);
  EXPECT_NE(panel_text(app_, window_).find("3KB/s"), std::string::npos);
  EXPECT_STREQ(window_.panel.speed_text, "3KB");
}

// A click while a job runs logs one busy line and leaves the job's counters alone.
TEST_F(ConversionPanelTest, StartWhileBusyLogsAndTouchesNothing) {
  app_.worker_idle.store(false);  // as a running job has it
  const ProgressSnapshot running{1234, 56, 789.0f, 0.25f, 3, 12};
  app_.jobs.publish(running);
  click("start");
  EXPECT_EQ(log_count("The worker thread is busy..."), 1);
  const ProgressSnapshot after = app_.jobs.progress();
  EXPECT_EQ(after.bytes_done, 1234u);
  EXPECT_EQ(after.micros, 56);
  EXPECT_EQ(after.speed, 789.0f);
  EXPECT_EQ(after.fraction, 0.25f);
  EXPECT_EQ(after.files_done, 3u);
  EXPECT_EQ(after.files_total, 12u);
  app_.worker_idle.store(true);
}

// Two clicks before the new job has done anything start exactly one job.
TEST_F(ConversionPanelTest, QuickSecondClickStartsNoSecondJob) {
  app_.input.clear();  // the job ends after its first check, with one line
  app_.jobs.publish(ProgressSnapshot{99, 0, 0.0f, 0.0f, 0, 0});
  {
    // Holding the log stalls the new job at its first line, however fast the clicks come.
    std::unique_lock stall(app_.log.lines_lock);
    click("start");
    EXPECT_EQ(app_.jobs.progress().bytes_done, 0u);
    click("start");
  }
  app_.stop_worker();  // joins the job
  EXPECT_EQ(log_count("Input directory can't be empty!"), 1);
  EXPECT_EQ(log_count("The worker thread is busy..."), 1);
  EXPECT_TRUE(app_.worker_idle.load());
}

// A new job starts with an empty bar: the previous job's counts are not shown during its
// search.
TEST_F(ConversionPanelTest, StartZeroesTheBar) {
  app_.jobs.publish(ProgressSnapshot{100, 10, 10.0f, 1.0f, 12, 12});
  app_.input.clear();  // the job ends at its first check, before any count
  click("start");
  app_.jobs.wait();
  const ProgressSnapshot p = app_.jobs.progress();
  EXPECT_EQ(p.fraction, 0.0f);
  EXPECT_EQ(p.files_done, 0u);
  EXPECT_EQ(p.files_total, 0u);
  EXPECT_EQ(panel_text(app_, window_).find(" / "), std::string::npos);
}

// Typing in a directory field changes the setting at once and the file only on save.
TEST_F(ConversionPanelTest, TypingChangesSettingNotFile) {
  click("input_dir");
  type_text("/data/typed", body());
  EXPECT_EQ(app_.input, "/data/typed");
  EXPECT_EQ(read_file(config_path_), initial_text_);

  choose_file_menu("save_config");
  EXPECT_EQ(saved()["input"].as<std::string>(""), "/data/typed");
}

// The log view follows new text to its end; "Clear Log" empties it and it starts at the top.
TEST_F(ConversionPanelTest, LogViewScrollsAndClears) {
  for (int i = 0; i < 100; ++i) app_.log.append("line %d", i);
  draw(2);  // a scroll request takes effect in the next frame
  ImGuiWindow* view = log_view_window();
  ASSERT_NE(view, nullptr);
  EXPECT_GT(view->ScrollMax.y, 0.0f);
  EXPECT_FLOAT_EQ(view->Scroll.y, view->ScrollMax.y);
  EXPECT_FALSE(app_.log.scroll_to_end);

  click("clear_log");
  EXPECT_TRUE(app_.log.text.empty());
  EXPECT_TRUE(app_.log.lines.empty());
  app_.log.append("%s", "after clear");
  draw(2);
  EXPECT_EQ(view->Scroll.y, 0.0f);
  EXPECT_EQ(log_count("after clear"), 1);
}

// A choice in a combo changes only its index; the list opens scrolled to the current item.
TEST_F(ConversionPanelTest, CombosPickItemsAndShowCurrent) {
  app_.filters = {"*.cpp;*.h", "*.*"};
  app_.filter_index = 0;
  draw();
  click("filter");
  draw();
  click("filter:*.*");
  EXPECT_EQ(app_.filter_index, 1);

  app_.encodings.clear();
  for (int i = 0; i < 300; ++i) app_.encodings.push_back("ENC-" + std::to_string(i));
  const int32_t from_before = app_.from_index;
  app_.to_index = 200;
  draw();
  click("to");
  draw(2);
  const ItemRect list = rect("to_popup");
  const ItemRect current = rect("to:ENC-200");
  EXPECT_GE(current.min.y, list.min.y);
  EXPECT_LE(current.max.y, list.max.y);
  click("to:ENC-201");
  EXPECT_EQ(app_.to_index, 201);
  EXPECT_EQ(app_.from_index, from_before);
}

// In English and every translation, the panel's widgets and their labels fit inside the
// window's padding as it is made (800 pixels at 96 DPI), and the added combos show their
// longest item whole.
TEST_F(ConversionPanelTest, AddedCombosFitInTheWindow) {
  std::vector<std::string> languages = testing_support::languages();
  languages.insert(languages.begin(), "");
  for (const std::string& language : languages) {
    SCOPED_TRACE("language " + language);
    testing_support::ScopedLanguage in(language);
    load_text_fonts(app_.font_size);  // the widths the window has, with the language's glyphs
    draw(2);
    const ImGuiStyle& style = ImGui::GetStyle();
    const float right = static_cast<float>(app_.window_width) - style.WindowPadding.x;
    for (const char* probe : {"choose_input", "choose_output", "filter", "bom", "from", "detect",
                              "candidates", "to", "eol", "start", "preview", "stop", "repair",
                              "tab.log", "tab.report", "tab.preview", "tab.rules", "clear_log"})
      EXPECT_LE(rect(probe).max.x, right) << probe;
    const struct {
      const char* probe;
      const char* label;
      std::vector<const char*> items;
    } combos[] = {{"eol", "Line Endings", {"Keep", "LF", "CRLF"}},
                  {"bom", "Marks", {"Keep", "Add", "Remove"}}};
    for (const auto& c : combos) {
      SCOPED_TRACE(c.probe);
      const ItemRect r = rect(c.probe);  // the combo and its label
      const float frame =
          r.max.x - r.min.x - ImGui::CalcTextSize(_(c.label)).x - style.ItemInnerSpacing.x;
      const float arrow = ImGui::GetFrameHeight();
      for (const char* item : c.items)
        EXPECT_GE(frame - arrow - 2 * style.FramePadding.x, ImGui::CalcTextSize(_(item)).x) << item;
    }
  }
}

// The Filter items follow the settings' list, made again only when it changes.
TEST(FilterItemsTest, FollowTheFilterList) {
  FilterItems items;
  EXPECT_EQ(items.of({}), std::string(1, '\0'));
  EXPECT_EQ(items.of({"ab", "cde"}), std::string("ab\0cde\0\0", 8));
  EXPECT_EQ(items.of({"ab", "cde"}), std::string("ab\0cde\0\0", 8));
  EXPECT_EQ(items.of({"x"}), std::string("x\0\0", 3));
}

// Indexes that name no item show empty combos; nothing fails, and an item can still be chosen.
TEST_F(ConversionPanelTest, IndexOutsideTheItemsShowsEmptyCombo) {
  app_.filter_index = 2;  // two filters
  app_.from_index = -1;
  app_.to_index = static_cast<int32_t>(app_.encodings.size());
  const std::string shown = panel_text(app_, window_);
  EXPECT_NE(shown.find("Filter"), std::string::npos);
  EXPECT_NE(shown.find("0B/s"), std::string::npos);
  EXPECT_EQ(shown.find("*.cpp;*.h"), std::string::npos);
  EXPECT_EQ(shown.find("*.*"), std::string::npos);
  EXPECT_EQ(shown.find("GBK"), std::string::npos);
  EXPECT_EQ(shown.find("UTF-8"), std::string::npos);

  click("filter");
  draw();
  click("filter:*.*");
  EXPECT_EQ(app_.filter_index, 1);
  EXPECT_NE(panel_text(app_, window_).find("*.*"), std::string::npos);
}

// "Stop" asks a running job to stop, and the engine ends it; with no job it does nothing.
TEST_F(ConversionPanelTest, StopEndsTheRunningJobOnly) {
  testing_support::write_file(dir_ / "in/a.txt", "x");
  app_.input = dir_ / "in";
  app_.output = dir_ / "out";
  app_.filter_index = 1;
  {
    // Holding the log stalls the job at its first line, before its search.
    std::unique_lock stall(app_.log.lines_lock);
    click("start");
    ASSERT_FALSE(app_.worker_idle.load());
    click("stop");
    EXPECT_TRUE(app_.jobs.stop_requested());
  }
  app_.jobs.wait();
  EXPECT_EQ(log_count("Conversion stopped during the search"), 1);
  EXPECT_FALSE(testing_support::file_exists(dir_ / "out/a.txt"));

  app_.jobs.prepare(*app_.plan_from_settings());  // a fresh task, and no job runs
  draw();
  click("stop");
  EXPECT_FALSE(app_.jobs.stop_requested());
}

// The bar says how many files are done of how many, and the time left once it can be told.
TEST_F(ConversionPanelTest, ProgressShowsCountsAndTimeLeft) {
  EXPECT_EQ(panel_text(app_, window_).find(" / "), std::string::npos);  // no job yet
  app_.worker_idle.store(false);                                        // as a running job has it
  const auto done = [&](uint64_t files) {
    app_.jobs.publish(ProgressSnapshot{0, 0, 0.0f, 0.0f, files, 10925});
  };
  done(0);
  EXPECT_NE(panel_text(app_, window_).find("0 / 10925 files"), std::string::npos);
  ImGui::GetIO().DeltaTime = 0.5f;
  done(100);
  EXPECT_NE(panel_text(app_, window_).find("100 / 10925 files\n"), std::string::npos);
  panel_text(app_, window_);
  done(1234);
  const std::string shown = panel_text(app_, window_);  // 1.5 s in
  EXPECT_NE(shown.find("1234 / 10925 files, 0:12 left"), std::string::npos) << shown;
  app_.worker_idle.store(true);
  EXPECT_NE(panel_text(app_, window_).find("1234 / 10925 files\n"), std::string::npos);
}
