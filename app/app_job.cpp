// The window's side of a conversion job: the plan from the settings and the start of it.
#include "app/app_state.h"

JobPlan AppState::plan_from_settings() const {
  // Not a copy of the last job's plan: its file list (a converted preview's, possibly 50,000
  // entries) would be copied in every frame that checks whether the preview is still current.
  JobPlan plan;
  plan.source = jobs.plan().source;
  plan.target = jobs.plan().target;
  plan.input = input;
  plan.output = output;
  const bool filter_ok = filter_index >= 0 && static_cast<size_t>(filter_index) < filters.size();
  plan.filter = filter_ok ? filters[static_cast<size_t>(filter_index)] : "*.*";
  // An index that names no entry keeps the previous run's name.
  if (const EncodingEntry* e = entry_at(encodings, from_index)) plan.source = *e;
  if (const EncodingEntry* e = entry_at(encodings, to_index)) plan.target = *e;
  plan.options = JobOptions{};
  plan.options.threads = static_cast<unsigned>(threads);  // 0: one per core
  plan.options.detect = detect;
  plan.options.candidates = candidates;
  plan.options.eol = eol;
  plan.options.bom = bom;
  plan.options.rules = rules;
  plan.options.repair = repair;
  plan.options.editorconfig = editorconfig;
  return plan;
}

void AppState::snapshot_job_settings() { jobs.prepare(plan_from_settings()); }

void AppState::request_convert() {
  if (!jobs.claim()) return;
  JobPlan plan = plan_from_settings();
  // Exactly the plan as shown, the user's overrides and exclusions included.
  if (preview && preview_current()) plan.files = preview->files;
  jobs.prepare(std::move(plan));
  preview.reset();  // what it showed is about to change
  jobs.launch();
}
