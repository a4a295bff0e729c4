// Dropped paths: queued by the frame loop, applied by the panel.
#include "ui/drop_target.h"

#include <imgui_internal.h>
#include <sys/stat.h>

#include <vector>

#include "app/app_state.h"
#include "ui/dir_listing.h"

namespace dropped_paths {
namespace {

struct Drop {
  std::string path;
  ImVec2 pos;
  bool first_of_batch;
};

struct Queue {
  std::vector<Drop> drops;
  bool batch_started = true;  // a drop with no begin event is a batch of its own
};
Queue queue;

std::vector<Drop> take() {
  std::vector<Drop> out;
  out.swap(queue.drops);
  return out;
}

}  // namespace

void begin_batch() { queue.batch_started = true; }

void add(const std::string& path, ImVec2 pos) {
  queue.drops.push_back(Drop{path, pos, queue.batch_started});
  queue.batch_started = false;
}

bool pending() { return !queue.drops.empty(); }

}  // namespace dropped_paths

namespace {

bool inside(ImVec2 p, ImVec2 min, ImVec2 max) {
  return p.x >= min.x && p.x < max.x && p.y >= min.y && p.y < max.y;
}

// The directory a dropped path names: itself, or a regular file's folder; empty otherwise.
std::string dropped_directory(const std::string& path) {
  const std::string full = resolve_path(path, working_directory());
  struct stat st {};
  if (stat(full.c_str(), &st) != 0) return {};
  if (S_ISDIR(st.st_mode)) return full;
  if (S_ISREG(st.st_mode)) return parent_directory(full);
  return {};
}

}  // namespace

void apply_dropped_paths(AppState& app, const DropZones& zones, bool dialog_open) {
  if (!dropped_paths::pending()) return;
  for (const auto& drop : dropped_paths::take()) {
    if (dialog_open) {
      app.log.append("Dropped while a dialog is open, ignored: %s", drop.path.c_str());
      continue;
    }
    if (!drop.first_of_batch) {
      app.log.append("Only the first dropped item is used, ignored: %s", drop.path.c_str());
      continue;
    }
    const std::string dir = dropped_directory(drop.path);
    if (dir.empty()) {
      app.log.append("Dropped item is neither a folder nor a file: %s", drop.path.c_str());
      continue;
    }
    const bool output = inside(drop.pos, zones.output_min, zones.output_max);
    // Important: a field being edited shows its own copy and would write it back; it lets go.
    if (ImGui::GetActiveID() != 0) ImGui::ClearActiveID();
    (output ? app.output : app.input) = dir;
    if (dir != resolve_path(drop.path, working_directory()))
      app.log.append("%s directory set to the folder of the dropped file: %s",
                     output ? "Output" : "Input", dir.c_str());
  }
}
