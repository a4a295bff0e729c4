// The window's side of a conversion job: the plan from the settings and the start of it.
#include "app/app_state.h"
#include "config/plan_resolver.h"
#include "util/i18n.h"

platform::Result<JobPlan> AppState::plan_from_settings() const {
  // Important: called every frame (preview_current); it copies no file list and reads no file.
  return resolve_plan(*this, encodings);
}

std::optional<JobPlan> AppState::claim_with_plan() {
  platform::Result<JobPlan> plan = plan_from_settings();
  if (!plan) {
    log.append(_("cannot start: %s"), plan.error().context.c_str());
    return std::nullopt;
  }
  if (!jobs.claim()) return std::nullopt;
  return std::move(*plan);
}

void AppState::request_convert() {
  std::optional<JobPlan> claimed = claim_with_plan();
  if (!claimed) return;
  JobPlan& plan = *claimed;
  // Exactly the plan as shown, the user's overrides and exclusions included.
  if (preview && preview_current()) plan.files = preview->files;
  jobs.prepare(std::move(plan));
  preview.reset();  // what it showed is about to change
  jobs.launch();
}
