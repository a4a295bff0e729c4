// Widget rectangles written to a file for scripts that drive the real window.
#include "ui/probe_file.h"

#include <cstdio>
#include <string>

#include "ui/ui_probe.h"

namespace probe_file {
namespace {

struct Recorder {
  bool active = false;  // set by start(), which the tool calls only when a test asks
  std::string path;
  std::string frame;    // lines of the frame being drawn
  std::string written;  // what the file holds
};
Recorder recorder;

void record(const char* id, const ImVec2& min, const ImVec2& max) {
  char line[64];
  std::snprintf(line, sizeof line, "\t%.0f\t%.0f\t%.0f\t%.0f\n", min.x, min.y, max.x, max.y);
  recorder.frame += id;
  recorder.frame += line;
}

}  // namespace

void start(const char* path) {
  recorder.active = true;
  recorder.path = path;
  ui_probe::hook = &record;
}

void end_frame() {
  if (!recorder.active) return;
  if (recorder.frame != recorder.written) {
    // Written aside and renamed, so a reader never sees half a layout.
    const std::string tmp = recorder.path + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
      const bool ok =
          std::fwrite(recorder.frame.data(), 1, recorder.frame.size(), f) == recorder.frame.size();
      if (std::fclose(f) == 0 && ok && std::rename(tmp.c_str(), recorder.path.c_str()) == 0)
        recorder.written = recorder.frame;
    }
  }
  recorder.frame.clear();
}

}  // namespace probe_file
