// Widget rectangles written to a file for scripts that drive the real window.
#include "ui/probe_file.h"

#include <cstdio>
#include <utility>

#include "platform/fs.h"
#include "widgets/ui_probe.h"

ProbeFile::ProbeFile(std::string path) : path_(std::move(path)) {
  if (!path_.empty())
    ui_probe::hook = [this](const char* id, const ImVec2& min, const ImVec2& max) {
      record(id, min, max);
    };
}

ProbeFile::~ProbeFile() {
  if (!path_.empty()) ui_probe::hook = nullptr;
}

void ProbeFile::record(const char* id, const ImVec2& min, const ImVec2& max) {
  char line[64];
  std::snprintf(line, sizeof line, "\t%.0f\t%.0f\t%.0f\t%.0f\n", min.x, min.y, max.x, max.y);
  frame_ += id;
  frame_ += line;
}

void ProbeFile::end_frame() {
  if (path_.empty()) return;
  // Published whole, so a reader never sees half a layout.
  if (frame_ != written_ && platform::write_file_safely(path_, frame_)) written_ = frame_;
  frame_.clear();
}
