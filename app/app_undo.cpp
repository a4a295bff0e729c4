// The window's side of undo: whether the input keeps a run, looking at it, undoing it.
#include <utility>

#include "app/app_state.h"
#include "undo/store.h"

bool AppState::undo_available() const {
  // Important: asked only while the File menu is open; two folders listed at most.
  return worker_idle.load() && !input.empty() && undo::has_runs(input);
}

void AppState::request_undo_look() {
  if (!jobs.claim()) return;
  UndoPlan plan;
  plan.root = input;
  plan.look_only = true;
  jobs.prepare_undo(std::move(plan));
  jobs.launch();
}

std::optional<JobReport> AppState::take_undo_look() {
  std::lock_guard guard(preview_lock_);
  return std::exchange(undo_look_, std::nullopt);
}

void AppState::request_undo(const std::string& root, const std::string& id) {
  if (!jobs.claim()) return;
  UndoPlan plan;
  plan.root = root;
  plan.run = id;
  jobs.prepare_undo(std::move(plan));
  preview.reset();  // what it showed is about to change
  jobs.launch();
}
