// The file dialog: listing rules, and choosing, cancelling, overwriting and typing paths
// through a headless GUI.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/sys_io.h"
#include "tests/support/imgui_fixture.h"
#include "tests/support/test_support.h"
#include "widgets/dir_listing.h"
#include "widgets/file_dialog.h"

namespace fs = std::filesystem;
using testing_support::ScopedCwd;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

std::vector<std::string> names(const DirListing& l) {
  std::vector<std::string> out;
  for (const DirEntry& e : l.entries) out.push_back(e.name + (e.is_dir ? "/" : ""));
  return out;
}

}  // namespace

// Directories first, then files, each by name ignoring case; hidden entries, FIFOs and
// dangling links are left out; a link to a directory lists as a directory.
TEST(DirListingTest, OrderAndWhatIsShown) {
  TempDir t;
  fs::create_directories(t / "b_dir");
  fs::create_directories(t / "A_dir");
  fs::create_directories(t / ".hidden_dir");
  write_file(t / "z.yml", "z");
  write_file(t / "B.txt", "b");
  write_file(t / "a.cpp", "a");
  write_file(t / ".hidden.yml", "h");
  ASSERT_EQ(mkfifo((t / "pipe").c_str(), 0600), 0);
  fs::create_symlink(t / "nowhere", t / "dangling");
  fs::create_directory_symlink(t / "b_dir", t / "c_link");
  const DirListing l = list_directory(t.path());
  EXPECT_TRUE(l.readable);
  EXPECT_EQ(names(l),
            (std::vector<std::string>{"A_dir/", "b_dir/", "c_link/", "a.cpp", "B.txt", "z.yml"}));
}

// A directory that cannot be opened lists as empty and unreadable.
TEST(DirListingTest, UnreadableIsEmpty) {
  TempDir t;
  write_file(t / "file", "x");
  EXPECT_FALSE(list_directory(t / "file").readable);
  EXPECT_FALSE(list_directory(t / "missing").readable);
  EXPECT_TRUE(list_directory(t / "missing").entries.empty());
}

// A directory whose opening fails through the seam (as a permission would, which root passes
// by) is unreadable, however readable it is.
TEST(DirListingTest, FailedOpenThroughTheSeamIsUnreadable) {
  TempDir t;
  write_file(t / "a.txt", "a");
  platform::ScopedSysIo scope;
  platform::sysio().open = [](const char*, int, mode_t) -> int {
    errno = EACCES;
    return -1;
  };
  const DirListing l = list_directory(t.path());
  EXPECT_FALSE(l.readable);
  EXPECT_TRUE(l.entries.empty());
}

// Relative, ".", "~" and untidy paths resolve to one absolute form without a trailing slash.
TEST(DirListingTest, PathResolution) {
  EXPECT_EQ(resolve_path(".", "/base/dir"), "/base/dir");
  EXPECT_EQ(resolve_path("", "/base/dir"), "/base/dir");
  EXPECT_EQ(resolve_path("sub/../x/", "/base"), "/base/x");
  EXPECT_EQ(resolve_path("/a//b/./c/", "/base"), "/a/b/c");
  EXPECT_EQ(resolve_path("..", "/"), "/");
  const char* home = std::getenv("HOME");
  if (home && *home && home[0] == '/') {
    EXPECT_EQ(resolve_path("~/x", "/base"), resolve_path(std::string(home) + "/x", "/"));
  }
  EXPECT_EQ(parent_directory("/a/b"), "/a");
  EXPECT_EQ(parent_directory("/a"), "/");
  EXPECT_EQ(parent_directory("/"), "/");
}

namespace {

class DialogTest : public ImGuiFixture {
 protected:
  void SetUp() override {
    ImGuiFixture::SetUp();
    root_ = fs::canonical(tmp_.path()).string();
    fs::create_directories(root_ + "/A_dir/inner");
    fs::create_directories(root_ + "/b_dir");
    fs::create_directories(root_ + "/.hidden_dir");
    write_file(root_ + "/z.yml", "old");
    write_file(root_ + "/notes.txt", "n");
    write_file(root_ + "/a.cpp", "c");
    write_file(root_ + "/.hidden.yml", "h");
  }
  void TearDown() override {
    dlg().close();
    ImGuiFixture::TearDown();
  }
  FileDialog& dlg() { return dialog_; }
  FileDialog dialog_;

  Body body(const std::string& key) {
    return [this, key] {
      ImGui::Begin("host");
      if (dlg().display(key)) ++closes_;
      ImGui::End();
    };
  }

  TempDir tmp_;
  std::string root_;
  int closes_ = 0;
};

}  // namespace

// Choosing a directory: a click on a directory enters it, OK returns the shown directory.
TEST_F(DialogTest, ChooseDirectory) {
  dlg().open_modal("dir", "Choose a Directory", nullptr, root_);
  const Body b = body("dir");
  frames(2, b);
  EXPECT_TRUE(seen("dialog.entry.A_dir"));
  EXPECT_FALSE(seen("dialog.entry.z.yml"));  // a directory chooser lists no files
  EXPECT_FALSE(seen("dialog.entry..hidden_dir"));
  click_item("dialog.entry.b_dir", b);
  EXPECT_EQ(dlg().current_path(), root_ + "/b_dir");
  frame(b);
  click_item("dialog.ok", b);
  EXPECT_EQ(closes_, 1);
  EXPECT_TRUE(dlg().is_ok());
  EXPECT_FALSE(dlg().is_opened());
  EXPECT_EQ(dlg().current_path(), root_ + "/b_dir");
  frames(2, b);
  EXPECT_EQ(closes_, 1);  // reported once
  EXPECT_FALSE(seen("dialog.ok"));
}

// Cancel and Escape close without a result; the parent button goes up.
TEST_F(DialogTest, CancelAndEscape) {
  const Body b = body("dir");
  dlg().open_modal("dir", "Choose", nullptr, root_ + "/A_dir");
  frames(2, b);
  click_item("dialog.up", b);
  EXPECT_EQ(dlg().current_path(), root_);
  click_item("dialog.cancel", b);
  EXPECT_EQ(closes_, 1);
  EXPECT_FALSE(dlg().is_ok());
  dlg().close();

  dlg().open_modal("dir", "Choose", nullptr, root_);
  frames(2, b);
  press_key(ImGuiKey_Escape, b);
  EXPECT_EQ(closes_, 2);
  EXPECT_FALSE(dlg().is_ok());
}

// One dialog at a time: opening another while one is open changes nothing.
TEST_F(DialogTest, OneDialogAtATime) {
  dlg().open_modal("first", "First", nullptr, root_);
  dlg().open_modal("second", "Second", nullptr, root_ + "/b_dir");
  EXPECT_EQ(dlg().current_path(), root_);
  ImGuiFixture::Body both = [this] {
    ImGui::Begin("host");
    if (dlg().display("first")) ++closes_;
    if (dlg().display("second")) closes_ += 100;
    ImGui::End();
  };
  frames(2, both);
  click_item("dialog.ok", both);
  EXPECT_EQ(closes_, 1);
}

// The dialog fills most of the display unless the caller placed and sized it just before.
TEST_F(DialogTest, CallerPlacementKeptOtherwiseCentred) {
  const Body b = body("dir");
  dlg().open_modal("dir", "Choose", nullptr, root_);
  frames(2, b);
  const ItemRect r = rect("dialog.window");
  EXPECT_FLOAT_EQ(r.max.x - r.min.x, 1280 * 0.8f);
  EXPECT_FLOAT_EQ(r.center().x, 640.0f);
  click_item("dialog.cancel", b);
  dlg().close();

  bool opened = false;
  const Body placed = [&] {
    ImGui::Begin("host");
    if (!opened) {
      ImGui::SetNextWindowPos(ImVec2(100, 50), ImGuiCond_Always);
      ImGui::SetNextWindowSize(ImVec2(500, 300), ImGuiCond_Always);
      dlg().open_modal("dir", "Choose", nullptr, root_);
      opened = true;
    }
    dlg().display("dir");
    ImGui::End();
  };
  frames(3, placed);
  const ItemRect p = rect("dialog.window");
  EXPECT_NEAR(p.min.x, 100.0f, 1.0f);
  EXPECT_NEAR(p.min.y, 50.0f, 1.0f);
  EXPECT_FLOAT_EQ(p.max.x - p.min.x, 500.0f);
  EXPECT_FLOAT_EQ(p.max.y - p.min.y, 300.0f);
}

// "." and an empty path open in the working directory; a missing one in its nearest parent.
TEST_F(DialogTest, DotIsTheWorkingDirectory) {
  ScopedCwd cwd(root_ + "/b_dir");
  dlg().open_modal("dir", "Choose", nullptr, ".");
  EXPECT_EQ(dlg().current_path(), root_ + "/b_dir");
  dlg().close();
  dlg().open_modal("dir", "Choose", nullptr, "");
  EXPECT_EQ(dlg().current_path(), root_ + "/b_dir");
  dlg().close();
  dlg().open_modal("dir", "Choose", nullptr, root_ + "/gone/deeper");
  EXPECT_EQ(dlg().current_path(), root_);
}

// Save chooser: only matching files and directories are listed; a new name is accepted as is.
TEST_F(DialogTest, SaveNewFile) {
  const Body b = body("save");
  dlg().open_modal("save", "Save", ".yml", root_, "new.yml", 1, nullptr,
                   FileDialog::ConfirmOverwrite);
  frames(2, b);
  EXPECT_TRUE(seen("dialog.entry.z.yml"));
  EXPECT_TRUE(seen("dialog.entry.A_dir"));
  EXPECT_FALSE(seen("dialog.entry.notes.txt"));
  EXPECT_FALSE(seen("dialog.entry..hidden.yml"));
  click_item("dialog.ok", b);
  EXPECT_EQ(closes_, 1);
  EXPECT_TRUE(dlg().is_ok());
  EXPECT_EQ(dlg().file_path_name(), root_ + "/new.yml");
  EXPECT_EQ(dlg().current_path(), root_);
}

// An existing file is only chosen after the overwrite question is answered yes.
TEST_F(DialogTest, ConfirmOverwrite) {
  const Body b = body("save");
  dlg().open_modal("save", "Save", "*.*", root_, "", 1, nullptr, FileDialog::ConfirmOverwrite);
  frames(2, b);
  click_item("dialog.entry.z.yml", b);
  click_item("dialog.ok", b);
  frame(b);
  EXPECT_EQ(closes_, 0);
  ASSERT_TRUE(seen("dialog.overwrite.no"));
  click_item("dialog.overwrite.no", b);
  frame(b);
  EXPECT_EQ(closes_, 0);
  EXPECT_FALSE(seen("dialog.overwrite.yes"));
  EXPECT_TRUE(dlg().is_opened());

  click_item("dialog.ok", b);
  frame(b);
  click_item("dialog.overwrite.yes", b);
  EXPECT_EQ(closes_, 1);
  EXPECT_TRUE(dlg().is_ok());
  EXPECT_EQ(dlg().file_path_name(), root_ + "/z.yml");
}

// Without the flag an existing file is chosen at once.
TEST_F(DialogTest, NoQuestionWithoutTheFlag) {
  const Body b = body("save");
  dlg().open_modal("save", "Save", ".yml", root_, "z.yml");
  frames(2, b);
  click_item("dialog.ok", b);
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(dlg().file_path_name(), root_ + "/z.yml");
}

// A path typed into the path bar is shown when it is a directory; otherwise an error is
// shown and the listing stays; relative paths are taken from the shown directory.
TEST_F(DialogTest, TypedPath) {
  const Body b = body("dir");
  dlg().open_modal("dir", "Choose", nullptr, root_);
  frames(2, b);
  const auto enter_path = [&](const std::string& text) {
    click_item("dialog.path", b);
    type_text(text.c_str(), b);
    press_key(ImGuiKey_Enter, b);
  };
  enter_path(root_ + "/A_dir");
  EXPECT_EQ(dlg().current_path(), root_ + "/A_dir");

  enter_path(root_ + "/nothing");
  EXPECT_EQ(dlg().current_path(), root_ + "/A_dir");
  EXPECT_TRUE(dlg().is_opened());

  enter_path("inner");
  EXPECT_EQ(dlg().current_path(), root_ + "/A_dir/inner");
  click_item("dialog.ok", b);
  EXPECT_TRUE(dlg().is_ok());
  EXPECT_EQ(dlg().current_path(), root_ + "/A_dir/inner");
}

// The keyboard alone saves: the name field has the focus, Enter accepts.
TEST_F(DialogTest, KeyboardSave) {
  const Body b = body("save");
  dlg().open_modal("save", "Save", ".yml", root_);
  frames(2, b);
  type_text("typed.yml", b);
  press_key(ImGuiKey_Enter, b);
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(dlg().file_path_name(), root_ + "/typed.yml");
}

// The arrow keys move from the path bar into the list; Space enters the directory there.
TEST_F(DialogTest, KeyboardNavigation) {
  const Body b = body("dir");
  dlg().open_modal("dir", "Choose", nullptr, root_);
  frames(2, b);
  press_key(ImGuiKey_DownArrow, b);  // A_dir
  press_key(ImGuiKey_DownArrow, b);  // b_dir
  press_key(ImGuiKey_Space, b);
  EXPECT_EQ(dlg().current_path(), root_ + "/b_dir");
  press_key(ImGuiKey_Escape, b);
  EXPECT_EQ(closes_, 1);
}

// A double click on a directory enters it once; its second click neither enters what is
// then under the pointer nor chooses a file there. A double click on a file chooses it.
TEST_F(DialogTest, DoubleClicks) {
  fs::create_directories(root_ + "/b_dir/0_sub");
  write_file(root_ + "/b_dir/first.yml", "f");  // second row, where b_dir is in the parent
  const Body b = body("save");
  dlg().open_modal("save", "Save", ".yml", root_);
  frames(2, b);
  const ImVec2 pos = rect("dialog.entry.A_dir").center();
  click_at(pos, b);
  click_at(pos, b);  // the listing now shows A_dir/inner at that place
  EXPECT_EQ(dlg().current_path(), root_ + "/A_dir");
  click_item("dialog.up", b);
  frames(20, b);  // past the double-click time
  const ImVec2 dir = rect("dialog.entry.b_dir").center();
  click_at(dir, b);
  click_at(dir, b);  // b_dir/first.yml is now under the pointer
  ASSERT_NEAR(rect("dialog.entry.first.yml").center().y, dir.y, 1.0f);
  EXPECT_EQ(dlg().current_path(), root_ + "/b_dir");
  EXPECT_EQ(closes_, 0);
  frames(20, b);
  const ImVec2 file = rect("dialog.entry.first.yml").center();
  click_at(file, b);
  click_at(file, b);
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(dlg().file_path_name(), root_ + "/b_dir/first.yml");
}

// A shown directory that becomes unreadable lists as empty, says so, and nothing fails.
TEST_F(DialogTest, UnreadableDirectory) {
  const Body b = body("dir");
  dlg().open_modal("dir", "Choose", nullptr, root_ + "/A_dir/inner");
  frames(2, b);
  fs::remove(root_ + "/A_dir/inner");
  click_item("dialog.refresh", b);
  frames(2, b);
  EXPECT_TRUE(dlg().is_opened());
  click_item("dialog.ok", b);  // a vanished directory cannot be chosen
  EXPECT_EQ(closes_, 0);
  click_item("dialog.up", b);
  EXPECT_EQ(dlg().current_path(), root_ + "/A_dir");
  if (geteuid() != 0) {  // root reads any directory
    ASSERT_EQ(chmod((root_ + "/b_dir").c_str(), 0), 0);
    click_item("dialog.up", b);
    frame(b);
    click_item("dialog.entry.b_dir", b);
    frames(2, b);
    EXPECT_EQ(dlg().current_path(), root_ + "/b_dir");
    EXPECT_TRUE(dlg().is_opened());
    chmod((root_ + "/b_dir").c_str(), 0755);
  }
}
