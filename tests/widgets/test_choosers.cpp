// The three choosers as the main window uses them: placement, confirm, cancel, modality.
#include <imgui_internal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/ui_test_app.h"
#include "widgets/file_dialog.h"
#include "widgets/icons.h"

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::write_file;

namespace {

// The dialog window whose title starts with `title`.
ImGuiWindow* dialog_window(const std::string& title) {
  for (ImGuiWindow* w : GImGui->Windows)
    if (w->Active && std::string(w->Name).rfind(title, 0) == 0) return w;
  return nullptr;
}

class ChooserTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    root_ = fs::canonical(dir_.path()).string();
    fs::create_directories(root_ + "/picked");
  }
  testing_support::ScopedCwd cwd_{dir_.path()};  // choosers start in "."
  std::string root_;
};

}  // namespace

// Directory choosers open centred on the display, 500 x 300 scaled by the DPI factor.
TEST_F(ChooserTest, DirectoryChooserPlacement) {
  app_.dpi_scale = 1.25f;
  click("choose_output");
  draw();
  ImGuiWindow* w = dialog_window(ICON_FOLDER_OPEN "Choose a Directory");
  ASSERT_NE(w, nullptr);
  EXPECT_FLOAT_EQ(w->Size.x, 625.0f);
  EXPECT_FLOAT_EQ(w->Size.y, 375.0f);
  const ImVec2 display = ImGui::GetIO().DisplaySize;
  EXPECT_NEAR(w->Pos.x + w->Size.x / 2, display.x / 2, 1.0f);  // positions are whole pixels
  EXPECT_NEAR(w->Pos.y + w->Size.y / 2, display.y / 2, 1.0f);
}

// Confirming replaces the whole field with the chosen directory; cancelling keeps it.
TEST_F(ChooserTest, DirectoryChooserConfirmAndCancel) {
  app_.input = "/old/input";
  click("choose_input");
  draw();
  click("dialog.entry.picked");
  draw();
  click("dialog.ok");
  EXPECT_EQ(app_.input, root_ + "/picked");
  EXPECT_FALSE(window_.dialog.is_opened());

  app_.output = "/old/output";
  click("choose_output");
  draw();
  click("dialog.entry.picked");
  draw();
  click("dialog.cancel");
  EXPECT_EQ(app_.output, "/old/output");
  EXPECT_EQ(app_.input, root_ + "/picked");
  EXPECT_FALSE(window_.dialog.is_opened());
}

// While a chooser is open the panel and the title strip take no input.
TEST_F(ChooserTest, ChooserIsModal) {
  click("choose_input");
  draw();
  EXPECT_FALSE(drag_.enabled);
  click("start");
  click("clear_log");
  app_.stop_worker();
  EXPECT_EQ(log_count("Input directory"), 0);
  EXPECT_TRUE(window_.dialog.is_opened());
  click("dialog.cancel");
}

// "Save Config As..." saves to the chosen file; later saves go there, "ouzel.yml" stays.
TEST_F(ChooserTest, SaveAsRedirectsLaterSaves) {
  choose_file_menu("save_config_as");
  draw();
  ImGuiWindow* w = dialog_window(ICON_SAVE " Choose a File");
  ASSERT_NE(w, nullptr);
  EXPECT_FLOAT_EQ(w->Size.x, 500.0f);
  type_text("other.yml", body());  // the name field has the keyboard when the dialog opens
  click("dialog.ok");
  EXPECT_EQ(app_.path, root_ + "/other.yml");
  EXPECT_TRUE(fs::exists(root_ + "/other.yml"));

  app_.input = "/after/save-as";
  choose_file_menu("exit");
  EXPECT_EQ(quits_, 1);
  EXPECT_EQ(YAML::LoadFile(root_ + "/other.yml")["input"].as<std::string>(""), "/after/save-as");
  EXPECT_EQ(read_file(config_path_), initial_text_);
}

// An existing file is written only after the overwrite question is answered yes.
TEST_F(ChooserTest, SaveAsAsksBeforeOverwriting) {
  write_file(root_ + "/taken.yml", "old: 1\n");
  app_.output = "/chosen/output";
  choose_file_menu("save_config_as");
  draw();
  click("dialog.entry.taken.yml");
  click("dialog.ok");
  draw();
  EXPECT_EQ(read_file(root_ + "/taken.yml"), "old: 1\n");
  click("dialog.overwrite.yes");
  EXPECT_EQ(YAML::LoadFile(root_ + "/taken.yml")["output"].as<std::string>(""), "/chosen/output");
  EXPECT_EQ(quits_, 0);
}

// "Save Report..." is offered once a job has run, asks before overwriting, and writes the
// report as CSV to the chosen file.
TEST_F(ChooserTest, SaveReportWritesTheLastJobsReport) {
  choose_file_menu("save_report");
  draw();
  EXPECT_FALSE(window_.dialog.is_opened());  // no job yet: the item is greyed
  press_key(ImGuiKey_Escape, body());        // the menu stays open; close it

  write_file(root_ + "/in/a.txt", "\xD6\xD0\n");
  write_file(root_ + "/in/b.bin", std::string("x\0y", 3));
  app_.input = root_ + "/in";
  app_.output = root_ + "/out";
  app_.filters = {"*.*"};
  app_.filter_index = 0;
  app_.from_index = app_.index_of("GBK");
  app_.to_index = app_.index_of("UTF-8");
  app_.jobs.prepare(*app_.plan_from_settings());
  app_.jobs.run();

  write_file(root_ + "/report.csv", "old");
  choose_file_menu("save_report");
  draw();
  click("dialog.ok");  // the suggested name, which exists
  draw();
  EXPECT_EQ(read_file(root_ + "/report.csv"), "old");
  click("dialog.overwrite.yes");
  const std::string csv = read_file(root_ + "/report.csv");
  EXPECT_EQ(csv.rfind("path,outcome,source,target,bytes,detail\r\n", 0), 0u);
  EXPECT_NE(csv.find("\r\na.txt,converted,GBK,UTF-8,3,\r\n"), std::string::npos);
  EXPECT_NE(csv.find("\r\nb.bin,binary,GBK,UTF-8,3,NUL byte at offset 1\r\n"), std::string::npos);
  EXPECT_EQ(log_count("save report to file " + root_ + "/report.csv success, 2 entries"), 1);

  // Never over a file of the run, however spelled, nor over the settings file.
  app_.save_report(root_ + "/in/../out/a.txt");
  EXPECT_EQ(log_count("save report failed: " + root_ +
                      "/in/../out/a.txt would be written over "
                      "a.txt, a file of the last run"),
            1);
  app_.save_report(root_ + "/in/a.txt");
  EXPECT_EQ(read_file(root_ + "/in/a.txt"), "\xD6\xD0\n");
  app_.save_report(config_path_);
  EXPECT_EQ(read_file(config_path_), initial_text_);
  EXPECT_EQ(log_count("save report failed: "), 3);
}

// "Open Current Config" hands the editor the working directory's "ouzel.yml", even after
// "Save Config As..." pointed the saves elsewhere.
TEST_F(ChooserTest, OpenConfigNamesWorkingDirectoryFile) {
  const std::string editor_dir = root_ + "/editor";
  write_file(editor_dir + "/varnel.exe",
             "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.arg.tmp\"\n"
             "mv \"$0.arg.tmp\" \"$0.arg\"\n");
  fs::permissions(editor_dir + "/varnel.exe", fs::perms::owner_all);
  const char* saved_env = std::getenv("VN_INSTDIR");
  const std::string saved_value = saved_env ? saved_env : "";
  setenv("VN_INSTDIR", editor_dir.c_str(), 1);

  app_.path = root_ + "/other.yml";
  choose_file_menu("open_config");
  const std::string arg_file = editor_dir + "/varnel.exe.arg";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(arg_file) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(read_file(arg_file), root_ + "/ouzel.yml");
  EXPECT_EQ(log_count("Expand Env var fail"), 0);

  if (saved_env)
    setenv("VN_INSTDIR", saved_value.c_str(), 1);
  else
    unsetenv("VN_INSTDIR");
}
