// Detection and the preview in the window: the "Detect" box and the candidates persist; a
// preview lists every file; a file read with another encoding or left out is converted as
// shown; a changed setting drops the preview.
#include <imgui_internal.h>

#include <mutex>
#include <string>
#include <utility>

#include "tests/support/ui_test_app.h"
#include "ui/conversion_panel.h"
#include "views/preview_view.h"
#include "widgets/candidate_chooser.h"

using namespace testing_support;

namespace {

class PreviewWindowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // Tall enough for every row of the small tree.
    ImGui::GetIO().DisplaySize = ImVec2(1280, 1000);
    app_.window_height = 1000;
    app_.filter_index = 1;  // "*.*"
  }

  // Four GBK and four Big5 sources (one short comment each) in two folders, a UTF-8 file with
  // a Japanese name, an ASCII header and a file no candidate reads.
  void make_tree() {
    for (int i = 0; i < 4; ++i) {
      const std::string n = std::to_string(i);
      write_file(dir_ / ("in/gbk/f" + n + ".cpp"), source_with_comment(kSimplified[i], "GBK", i));
      write_file(dir_ / ("in/big5/說明" + n + ".cpp"),
                 source_with_comment(kTraditional[i], "BIG5", i));
    }
    write_file(dir_ / "in/utf8/日本語.txt", "// 日本語のコメント\n");
    write_file(dir_ / "in/ascii/plain.h", "int x;\n");
    write_file(dir_ / "in/junk.c", "int a;\nint b; \xFF\xFF\xFF\n");
    app_.input = dir_ / "in";
    app_.output = dir_ / "out";
  }

  // Ticks "Detect", presses "Preview", waits for the dry run and draws its arrival.
  void preview() {
    if (!app_.detect) click("detect");
    click("preview");
    app_.jobs.wait();
    draw(2);
  }

  size_t row_of(const std::string& path) const {
    for (size_t i = 0; i < app_.preview->rows.size(); ++i)
      if (app_.preview->rows[i].path == path) return i;
    ADD_FAILURE() << "no row " << path;
    return 0;
  }

  // The probe identifier of a row as the table shows it, or "" when it is not in sight.
  std::string shown_row(const std::string& path) {
    draw();
    const std::string prefix = "preview.row:" + path + "|";
    const std::vector<std::string> ids = seen_with(prefix);
    return ids.empty() ? std::string() : ids.front().substr(prefix.size());
  }

  void convert() {
    click("start");
    app_.jobs.wait();
    draw(2);
  }
};

}  // namespace

// "Detect" and the ticked presets are saved with the settings and read back; while "Detect"
// is off the candidates' list does not open.
TEST_F(PreviewWindowTest, DetectAndCandidatesPersist) {
  click("candidates");
  draw();
  EXPECT_FALSE(seen("candidates_popup"));
  click("detect");
  EXPECT_TRUE(app_.detect);
  click("candidates");
  draw();
  ASSERT_TRUE(seen("candidates_popup"));
  click("candidates:Japanese");
  click("candidates:Korean");
  click("candidates:Korean");
  EXPECT_EQ(app_.candidates, (std::vector<std::string>{"Japanese"}));
  press_key(ImGuiKey_Escape, body());

  choose_file_menu("save_config");
  AppState loaded(AppState::no_config);
  loaded.load_config(config_path_);
  EXPECT_TRUE(loaded.detect);
  EXPECT_EQ(loaded.candidates, (std::vector<std::string>{"Japanese"}));
}

// An empty list means the From Encoding's preset, and says so; "all" means every encoding;
// names from the settings file that are no preset are kept beside the ticked presets.
TEST(CandidateList, EmptyMeansTheFromEncodingsPreset) {
  EXPECT_NE(describe_candidates({}, "GBK").find("Chinese (GB18030, GBK, BIG5, BIG5-HKSCS, EUC-TW"),
            std::string::npos);
  EXPECT_NE(describe_candidates({"Cyrillic", "all"}, "GBK").find("every encoding it knows"),
            std::string::npos);
  EXPECT_NE(describe_candidates({}, "UTF-8").find("only UTF and ASCII files"), std::string::npos);
  std::vector<std::string> list = {"gbk", "Chinese"};
  EXPECT_TRUE(has_candidate(list, "CHINESE"));
  set_candidate(list, "Cyrillic", true);
  set_candidate(list, "chinese", false);
  EXPECT_EQ(list, (std::vector<std::string>{"gbk", "Cyrillic"}));
}

// A preview writes nothing, brings its tab forward and lists every file with the encoding it
// would be read as, its planned outcome and its sample; the undetected file is flagged, and
// its row's tooltip says why.
TEST_F(PreviewWindowTest, PreviewListsEveryFile) {
  make_tree();
  preview();
  EXPECT_FALSE(file_exists(dir_ / "out"));
  ASSERT_TRUE(app_.preview.has_value());
  EXPECT_TRUE(seen("preview.table"));
  EXPECT_EQ(app_.preview->rows.size(), 11u);
  EXPECT_EQ(count_seen("preview.row:"), 11);
  for (int i = 0; i < 4; ++i) {
    const std::string n = std::to_string(i);
    const std::string gbk = shown_row("gbk/f" + n + ".cpp");
    EXPECT_TRUE(gbk.rfind("GBK|", 0) == 0 || gbk.rfind("GB18030|", 0) == 0) << gbk;
    EXPECT_NE(gbk.find("|converted"), std::string::npos) << gbk;
    const std::string big5 = shown_row("big5/說明" + n + ".cpp");
    EXPECT_EQ(big5.rfind("BIG5", 0), 0u) << big5;
  }
  EXPECT_EQ(shown_row("utf8/日本語.txt"), "UTF-8|utf8|already-utf8");
  EXPECT_EQ(shown_row("ascii/plain.h"), "ASCII|ascii|ascii");
  EXPECT_EQ(shown_row("junk.c"), "|undetected|undetected");
  EXPECT_EQ(window_.panel.preview.rows().look_count(), 1u);

  const std::string text = drawn_text();
  EXPECT_NE(text.find(std::string("// ") + kSimplified[2]), std::string::npos);
  EXPECT_NE(text.find(std::string("// ") + kTraditional[3]), std::string::npos);
  EXPECT_NE(text.find("// 日本語のコメント"), std::string::npos);

  // The pointer over a row shows what detection said of it.
  ImGui::GetIO().MousePos = rect("preview.row:junk.c||undetected|undetected").center();
  draw(2);
  EXPECT_NE(drawn_text().find("no candidate reads it"), std::string::npos);
}

// Reading a file with another encoding from its row changes its sample at once, and "Start
// Convert" writes it read that way; the others as detected.
TEST_F(PreviewWindowTest, OverrideChangesSampleAndConversion) {
  make_tree();
  preview();
  const size_t f0 = row_of("gbk/f0.cpp");
  const std::string before = app_.preview->rows[f0].sample;
  EXPECT_EQ(before, std::string("// ") + kSimplified[0]);
  click("preview.enc:gbk/f0.cpp");
  draw();
  ASSERT_TRUE(seen("preview.enc_popup"));
  type_text("big5", body());
  press_key(ImGuiKey_Enter, body());
  app_.jobs.wait();  // the file is read again on the worker
  draw(2);
  EXPECT_EQ(app_.preview->rows[f0].source, "BIG5");
  EXPECT_NE(app_.preview->rows[f0].sample, before);
  EXPECT_EQ(shown_row("gbk/f0.cpp").rfind("BIG5|override|", 0), 0u);
  EXPECT_EQ(drawn_text().find(before), std::string::npos);

  convert();
  EXPECT_FALSE(app_.preview.has_value());
  EXPECT_EQ(read_file(dir_ / "out/gbk/f0.cpp"),
            iconv_command(source_with_comment(kSimplified[0], "GBK", 0), "BIG5", "UTF-8"));
  EXPECT_EQ(read_file(dir_ / "out/gbk/f1.cpp"), source_with_comment(kSimplified[1], "UTF-8", 1));
  EXPECT_EQ(read_file(dir_ / "out/big5/說明2.cpp"),
            source_with_comment(kTraditional[2], "UTF-8", 2));
}

// Files left out in the preview are not written; the rest are.
TEST_F(PreviewWindowTest, LeftOutFilesAreNotWritten) {
  make_tree();
  preview();
  click("preview.skip:big5/說明1.cpp");
  click("preview.skip:utf8/日本語.txt");
  EXPECT_EQ(shown_row("big5/說明1.cpp").substr(shown_row("big5/說明1.cpp").rfind('|')),
            "|excluded");
  convert();
  EXPECT_FALSE(file_exists(dir_ / "out/big5/說明1.cpp"));
  EXPECT_FALSE(file_exists(dir_ / "out/utf8/日本語.txt"));
  EXPECT_TRUE(file_exists(dir_ / "out/big5/說明0.cpp"));
  EXPECT_TRUE(file_exists(dir_ / "out/gbk/f3.cpp"));
  EXPECT_EQ(log_count("Convert complete, total: 11"), 1);
  click("tab.preview");  // the report came forward: junk.c was not converted
  EXPECT_NE(drawn_text().find("The conversion started from the preview"), std::string::npos);
}

// Typing another input directory drops the preview at once, and the tab says why; so does
// a change of the candidates.
TEST_F(PreviewWindowTest, ChangedSettingDropsThePreview) {
  make_tree();
  preview();
  ASSERT_TRUE(app_.preview.has_value());
  click("input_dir");
  type_text("x", body());
  EXPECT_FALSE(app_.preview.has_value());
  EXPECT_FALSE(seen("preview.table"));
  EXPECT_NE(drawn_text().find("a setting it was made from has changed"), std::string::npos);

  press_key(ImGuiKey_Backspace, body());  // the field still has the keyboard
  ASSERT_EQ(app_.input, dir_ / "in");
  EXPECT_FALSE(app_.preview.has_value());  // gone, even with the setting as it was
  preview();
  ASSERT_TRUE(app_.preview.has_value());
  app_.candidates = {"Japanese"};
  draw();
  EXPECT_FALSE(app_.preview.has_value());
}

// "Preview" is greyed while a job runs; a preview cut short is no plan and is not shown.
TEST_F(PreviewWindowTest, BusyAndCutShortPreviews) {
  app_.worker_idle.store(false);  // as a running job has it
  click("preview");
  EXPECT_EQ(log_count("The worker thread is busy..."), 0);
  app_.worker_idle.store(true);

  make_tree();
  {
    // Holding the log stalls the preview at its first line, before its search.
    std::unique_lock stall(app_.log.lines_lock);
    click("preview");
    app_.request_stop();
  }
  app_.jobs.wait();
  draw(2);
  EXPECT_EQ(log_count("Conversion stopped during the search"), 1);
  EXPECT_FALSE(app_.preview.has_value());

  app_.input = dir_ / "missing";
  click("preview");
  app_.jobs.wait();
  draw(2);
  EXPECT_FALSE(app_.preview.has_value());
}

// Lines logged while another tab is shown cost no frames (the frame loop draws while the log
// says it has new lines), and the log shows its end once its tab is chosen again.
TEST_F(PreviewWindowTest, HiddenLogOwesNoFramesAndShowsItsEnd) {
  make_tree();
  preview();
  ASSERT_TRUE(seen("preview.table"));
  for (int i = 0; i < 100; ++i) app_.log.append("line %d", i);
  draw();
  EXPECT_FALSE(app_.log.scroll_to_end);
  click("tab.log");
  draw(2);
  ImGuiWindow* view = log_view_window();
  ASSERT_NE(view, nullptr);
  EXPECT_GT(view->ScrollMax.y, 0.0f);
  EXPECT_FLOAT_EQ(view->Scroll.y, view->ScrollMax.y);
}

// A tab brought forward shows from the next frame on: the frame that brings it asks the frame
// loop for that frame, and the next one asks nothing more.
TEST_F(PreviewWindowTest, TabBroughtForwardAsksForTheNextFrame) {
  make_tree();
  app_.detect = true;
  click("preview");
  app_.jobs.wait();
  window_.panel.next_frame = false;
  draw();  // the preview arrives
  EXPECT_TRUE(std::exchange(window_.panel.next_frame, false));
  EXPECT_FALSE(seen("preview.table"));
  draw();
  EXPECT_FALSE(window_.panel.next_frame);
  EXPECT_TRUE(seen("preview.table"));
}
