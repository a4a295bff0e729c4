// Test hook of the real window: the widgets' rectangles of the last frame, kept in a file.
#pragma once

#include <imgui.h>

#include <string>

// Records the rectangles the widgets report (it is ui_probe::hook while it lives, when given a
// path) and rewrites the file whenever the layout changed. Owned by the frame loop.
class ProbeFile {
 public:
  explicit ProbeFile(std::string path);  // empty: records nothing
  ~ProbeFile();
  ProbeFile(const ProbeFile&) = delete;
  ProbeFile& operator=(const ProbeFile&) = delete;

  // Call after each frame's draw; writes "id<TAB>x0<TAB>y0<TAB>x1<TAB>y1" lines.
  void end_frame();

 private:
  void record(const char* id, const ImVec2& min, const ImVec2& max);

  std::string path_;
  std::string frame_;    // lines of the frame being drawn
  std::string written_;  // what the file holds
};
