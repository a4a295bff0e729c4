// Folders and files dropped on the window from a file manager.
#pragma once

#include <imgui.h>

#include <string>
#include <vector>

struct AppState;

// Dropped items, queued by the frame loop's event handling, applied by the panel.
class DroppedPaths {
 public:
  struct Drop {
    std::string path;
    ImVec2 pos;
    bool first_of_batch;
  };

  // A new drag-and-drop began: of the items it brings, only the first is used.
  void begin_batch() { batch_started_ = true; }
  // One dropped item (a UTF-8 path) and where, in window coordinates, it was let go.
  void add(const std::string& path, ImVec2 pos);
  // Whether something waits to be applied (the frame loop draws a frame for it).
  bool pending() const { return !drops_.empty(); }
  std::vector<Drop> take();

 private:
  std::vector<Drop> drops_;
  bool batch_started_ = true;  // a drop with no begin event is a batch of its own
};

// The output row's rectangle of the last frame: a drop inside it names the output directory,
// anywhere else the input directory.
struct DropZones {
  ImVec2 output_min{0.0f, 0.0f}, output_max{0.0f, 0.0f};
};

// Applies the waiting drops, inside a frame, before the directory fields are drawn. A folder
// becomes the directory itself, a regular file its folder; anything else changes nothing and
// says why in the log. Ignored, with a log line, while a dialog is open.
void apply_dropped_paths(AppState& app, DroppedPaths& drops, const DropZones& zones,
                         bool dialog_open);
