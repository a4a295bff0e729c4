// Dropped paths: queued by the frame loop, applied by the panel.
#include "widgets/drop_target.h"

#include <imgui_internal.h>

#include <vector>

#include "app/app_state.h"
#include "platform/fs.h"
#include "util/i18n.h"
#include "widgets/dir_listing.h"

void DroppedPaths::add(const std::string& path, ImVec2 pos) {
  drops_.push_back(Drop{path, pos, batch_started_});
  batch_started_ = false;
}

std::vector<DroppedPaths::Drop> DroppedPaths::take() {
  std::vector<Drop> out;
  out.swap(drops_);
  return out;
}

namespace {

bool inside(ImVec2 p, ImVec2 min, ImVec2 max) {
  return p.x >= min.x && p.x < max.x && p.y >= min.y && p.y < max.y;
}

// The directory a dropped path names: itself, or a regular file's folder; empty otherwise.
std::string dropped_directory(const std::string& path) {
  const std::string full = resolve_path(path, working_directory());
  const platform::Result<platform::PathKind> kind = platform::path_kind(full);
  if (!kind) return {};
  if (*kind == platform::PathKind::directory) return full;
  if (*kind == platform::PathKind::file) return parent_directory(full);
  return {};
}

}  // namespace

void apply_dropped_paths(AppState& app, DroppedPaths& drops, const DropZones& zones,
                         bool dialog_open) {
  if (!drops.pending()) return;
  for (const auto& drop : drops.take()) {
    if (dialog_open) {
      app.log.append(_("Dropped while a dialog is open, ignored: %s"), drop.path.c_str());
      continue;
    }
    if (!drop.first_of_batch) {
      app.log.append(_("Only the first dropped item is used, ignored: %s"), drop.path.c_str());
      continue;
    }
    const std::string dir = dropped_directory(drop.path);
    if (dir.empty()) {
      app.log.append(_("Dropped item is neither a folder nor a file: %s"), drop.path.c_str());
      continue;
    }
    const bool output = inside(drop.pos, zones.output_min, zones.output_max);
    // Important: a field being edited shows its own copy and would write it back; it lets go.
    if (ImGui::GetActiveID() != 0) ImGui::ClearActiveID();
    (output ? app.output : app.input) = dir;
    if (dir != resolve_path(drop.path, working_directory()))
      app.log.append(output ? _("Output directory set to the folder of the dropped file: %s")
                            : _("Input directory set to the folder of the dropped file: %s"),
                     dir.c_str());
  }
}
