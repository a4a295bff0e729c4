// The main window: quitting saves first, the title strip, the menu's save command.
#include <mutex>
#include <string>

#include "tests/support/ui_test_app.h"
#include "widgets/closing_notice.h"

using testing_support::read_file;

// "Exit" saves the current settings to the file in use, then reports the quit.
TEST_F(MainWindowTest, ExitSavesAndQuits) {
  app_.input = "/data/exit-in";
  choose_file_menu("exit");
  EXPECT_EQ(quits_, 1);
  EXPECT_EQ(saved()["input"].as<std::string>(""), "/data/exit-in");
}

// The title bar's close button does the same as "Exit".
TEST_F(MainWindowTest, CloseButtonSavesAndQuits) {
  app_.output = "/data/close-out";
  EXPECT_EQ(quits_, 0);
  click("close");
  EXPECT_EQ(quits_, 1);
  EXPECT_EQ(saved()["output"].as<std::string>(""), "/data/close-out");
}

// Frames without a quit request write nothing.
TEST_F(MainWindowTest, DrawingAloneNeitherQuitsNorSaves) {
  app_.input = "/data/unsaved";
  draw(5);
  EXPECT_EQ(quits_, 0);
  EXPECT_EQ(read_file(config_path_), initial_text_);
}

// "Save Config" writes the file in use and does not quit.
TEST_F(MainWindowTest, SaveConfigWritesWithoutQuitting) {
  app_.output = "/data/saved-out";
  choose_file_menu("save_config");
  EXPECT_EQ(quits_, 0);
  EXPECT_EQ(saved()["output"].as<std::string>(""), "/data/saved-out");
}

// The drag strip is the title bar, the close button excluded; a menu taking focus disables it.
TEST_F(MainWindowTest, TitleStripDragsOnlyWhenMainWindowFocused) {
  click("log");  // focus the main window, as a first click would
  const ImGuiStyle& style = ImGui::GetStyle();
  EXPECT_FLOAT_EQ(drag_.strip_height, ImGui::GetFontSize() + 2 * style.FramePadding.y);
  EXPECT_TRUE(drag_.enabled);
  EXPECT_GT(drag_.close_button_x, 700.0f);
  EXPECT_LT(drag_.close_button_x, 800.0f);
  EXPECT_LE(drag_.close_button_x, rect("close").min.x);

  click("menu_file");
  draw();
  EXPECT_FALSE(drag_.enabled);
}

// A save that fails on the way out is reported in the log, and the quit still proceeds.
TEST_F(MainWindowTest, FailedExitSaveStillQuits) {
  app_.path = dir_ / "no-such-dir/ouzel.yml";
  choose_file_menu("exit");
  EXPECT_EQ(quits_, 1);
  EXPECT_EQ(log_count("save config failed, error: "), 1);
}

// Closing during a job: the job is asked to stop, a notice that takes no input stays while
// its files in progress are finished, and the program may end once it has ended. "Exit"
// still saves first. Without a job the program may end at once.
TEST_F(MainWindowTest, CloseDuringAJobWaitsForItsEnd) {
  WindowClosing closing;
  EXPECT_TRUE(begin_close(app_, closing));
  EXPECT_FALSE(closing.waiting);

  testing_support::write_file(dir_ / "in/a.txt", "x");
  app_.input = dir_ / "in";
  app_.output = dir_ / "out";
  bool done = false;
  const Body loop = [&] {  // as the frame loop composes them
    const bool quit = draw_main_window(app_, window_, drag_);
    if (closing.waiting)
      done = draw_closing_notice(app_);
    else if (quit)
      done = begin_close(app_, closing);
  };
  {
    std::unique_lock stall(app_.log.lines_lock);  // the job waits at its first line
    click_item("start", loop);
    click_item("menu_file", loop);
    frame(loop);
    click_item("exit", loop);
    EXPECT_TRUE(closing.waiting);
    EXPECT_TRUE(app_.jobs.stop_requested());
    EXPECT_EQ(saved()["input"].as<std::string>(""), dir_ / "in");
    frames(2, loop);
    EXPECT_TRUE(seen("closing"));
    EXPECT_FALSE(done);
    click_item("start", loop);  // behind the notice
    EXPECT_EQ(log_count("The worker thread is busy..."), 0);
    EXPECT_FALSE(done);
  }
  app_.jobs.wait();
  frame(loop);
  EXPECT_TRUE(done);
  EXPECT_EQ(log_count("Conversion stopped during the search"), 1);
}

// A settings file with a syntax error survives a start, "Save Config" and "Exit" as
// "ouzel.yml.bad", byte for byte; the log says so once.
TEST_F(MainWindowTest, UnreadableSettingsSurviveSaveAndExit) {
  const std::string text = initial_text_ + "input: \"/data/missing-quote\n";
  testing_support::write_file(config_path_, text);
  app_.load_config(config_path_);
  app_.input = "/data/typed";
  choose_file_menu("save_config");
  draw();  // the menu closes
  choose_file_menu("exit");
  EXPECT_EQ(quits_, 1);
  EXPECT_EQ(read_file(config_path_ + ".bad"), text);
  EXPECT_FALSE(testing_support::file_exists(config_path_ + ".bad.1"));
  EXPECT_EQ(saved()["input"].as<std::string>(""), "/data/typed");
  EXPECT_EQ(log_count("could not be read; its text is kept as " + config_path_ + ".bad"), 1);
}

// File > Undo Last Conversion does nothing until the input keeps a run in place; then it looks
// at the run, the confirmation names what cannot go back (a file changed since), and Undo puts
// the rest back, the log and the report saying so.
TEST_F(MainWindowTest, UndoLastConversionFromTheMenu) {
  const std::string gbk = "\xD6\xD0\xCE\xC4\n";
  testing_support::write_file(dir_ / "in/a.cpp", gbk);
  testing_support::write_file(dir_ / "in/b.cpp", gbk);
  app_.input = app_.output = dir_ / "in";
  choose_file_menu("undo_last");  // greyed: the menu stays open, nothing runs
  app_.jobs.wait();
  draw(2);
  EXPECT_FALSE(seen("undo.dialog"));
  EXPECT_TRUE(app_.worker_idle.load());
  press_key(ImGuiKey_Escape, body());
  click("start");
  app_.jobs.wait();
  testing_support::write_file(dir_ / "in/b.cpp", "mine\n");
  draw();
  choose_file_menu("undo_last");
  app_.jobs.wait();
  draw(2);
  ASSERT_TRUE(seen("undo.dialog"));
  EXPECT_TRUE(seen("undo.row:b.cpp"));
  EXPECT_FALSE(seen("undo.row:a.cpp"));
  EXPECT_NE(drawn_text().find("1 files go back"), std::string::npos);
  click("undo.confirm");
  app_.jobs.wait();
  draw();
  EXPECT_FALSE(seen("undo.dialog"));
  EXPECT_EQ(testing_support::read_file(dir_ / "in/a.cpp"), gbk);
  EXPECT_EQ(testing_support::read_file(dir_ / "in/b.cpp"), "mine\n");
  EXPECT_EQ(log_count("Undo complete: 1 of 2 files"), 1);
  ASSERT_NE(app_.last_report(), nullptr);
  EXPECT_EQ(app_.last_report()->counts()[static_cast<size_t>(Outcome::changed_since)], 1u);
}
