// Folders and files dropped on the window: which field they fill, and what is refused.
#include <filesystem>
#include <string>

#include "tests/support/ui_test_app.h"
#include "widgets/drop_target.h"
#include "widgets/file_dialog.h"

namespace fs = std::filesystem;
using testing_support::write_file;

namespace {

class DropTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    root_ = fs::canonical(dir_.path()).string();
    fs::create_directories(root_ + "/源代码/sub");
    write_file(root_ + "/源代码/sub/a.cpp", "x");
  }
  // One drag that brings `paths`, let go at `pos`, then a frame.
  void drop(std::initializer_list<std::string> paths, ImVec2 pos) {
    window_.drops.begin_batch();
    for (const std::string& p : paths) window_.drops.add(p, pos);
    draw();
  }
  ImVec2 elsewhere() const { return rect("log").center(); }
  std::string root_;
};

}  // namespace

// A folder dropped on the output row names the output directory; anywhere else, the input.
TEST_F(DropTest, FolderFillsTheFieldItLandsOn) {
  drop({root_ + "/源代码"}, rect("output_dir").center());
  EXPECT_EQ(app_.output, root_ + "/源代码");
  drop({root_ + "/源代码/sub/"}, rect("choose_output").center());
  EXPECT_EQ(app_.output, root_ + "/源代码/sub");
  drop({root_ + "/源代码"}, elsewhere());
  EXPECT_EQ(app_.input, root_ + "/源代码");
  drop({root_ + "/源代码/sub"}, rect("input_dir").center());
  EXPECT_EQ(app_.input, root_ + "/源代码/sub");
  EXPECT_EQ(log_count("Dropped"), 0);
}

// A dropped regular file stands for the folder it is in, and the log says so.
TEST_F(DropTest, FileGivesItsFolder) {
  drop({root_ + "/源代码/sub/a.cpp"}, elsewhere());
  EXPECT_EQ(app_.input, root_ + "/源代码/sub");
  EXPECT_EQ(log_count("Input directory set to the folder of the dropped file"), 1);
}

// A path that is no folder or file changes nothing and is named in the log; of several
// items dropped at once only the first is used.
TEST_F(DropTest, MissingPathAndExtraItems) {
  app_.input = "/kept";
  drop({root_ + "/gone"}, elsewhere());
  EXPECT_EQ(app_.input, "/kept");
  EXPECT_EQ(log_count("Dropped item is neither a folder nor a file"), 1);

  drop({root_ + "/源代码", root_ + "/源代码/sub"}, elsewhere());
  EXPECT_EQ(app_.input, root_ + "/源代码");
  EXPECT_EQ(log_count("Only the first dropped item is used"), 1);
}

// A drop while a chooser is open is refused: the modal dialog owns the input.
TEST_F(DropTest, RefusedWhileADialogIsOpen) {
  testing_support::ScopedCwd cwd(root_);
  app_.input = "/kept";
  click("choose_input");
  draw();
  drop({root_ + "/源代码"}, elsewhere());
  EXPECT_EQ(app_.input, "/kept");
  EXPECT_EQ(log_count("Dropped while a dialog is open"), 1);
  click("dialog.cancel");
}

// A drop on a field being edited replaces its text for good: the field lets go of its copy.
TEST_F(DropTest, ReplacesAFieldBeingEdited) {
  click("input_dir");
  type_text("/typed", body());
  drop({root_ + "/源代码"}, rect("input_dir").center());
  type_text("x", body());  // keys after the drop go nowhere: the field is no longer active
  draw(2);
  EXPECT_EQ(app_.input, root_ + "/源代码");
}
