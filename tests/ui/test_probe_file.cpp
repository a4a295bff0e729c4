// The layout file that drives the real window in end-to-end tests.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "ui/probe_file.h"
#include "widgets/ui_probe.h"

using testing_support::read_file;

// Each frame's rectangles replace the last frame's; an unchanged frame leaves the file alone.
TEST(ProbeFile, HoldsLastFrameOnly) {
  testing_support::TempDir dir;
  const std::string path = dir / "layout.tsv";
  ProbeFile probe(path);
  ui_probe::hook("start", ImVec2(10, 20), ImVec2(110.4f, 40));
  ui_probe::hook("filter:*.cpp;*.h", ImVec2(1, 2), ImVec2(3, 4));
  probe.end_frame();
  EXPECT_EQ(read_file(path), "start\t10\t20\t110\t40\nfilter:*.cpp;*.h\t1\t2\t3\t4\n");

  ui_probe::hook("exit", ImVec2(5, 6), ImVec2(7, 8));
  probe.end_frame();
  EXPECT_EQ(read_file(path), "exit\t5\t6\t7\t8\n");
  testing_support::write_file(path, "changed by someone else");
  ui_probe::hook("exit", ImVec2(5, 6), ImVec2(7, 8));
  probe.end_frame();
  EXPECT_EQ(read_file(path), "changed by someone else");
}
