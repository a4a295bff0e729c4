// The preview: a dry run with samples, handed to the UI thread, kept while the settings stay,
// with the user's choice of encoding or exclusion per file.
#include "app/app_state.h"
#include "convert/file_convert.h"
#include "convert/in_place.h"

namespace {

// What "Start Convert" does with a previewed file: the encoding it was read as when that was
// decided for it alone (detection), else the run's.
PlannedFile planned_from(const FileReport& row) {
  PlannedFile f;
  const size_t slash = row.path.rfind('/');
  f.relative_dir = slash == std::string::npos ? std::string() : row.path.substr(0, slash);
  f.file_name = slash == std::string::npos ? row.path : row.path.substr(slash + 1);
  f.evidence = row.evidence;
  f.confidence = row.confidence;
  f.note = outcome_is_unsettled(row.outcome) ? row.note : row.detection_note;
  const bool decided = !row.evidence.empty() && row.evidence != "chosen" &&
                       row.evidence != "ascii" && !outcome_is_unsettled(row.outcome);
  if (decided) f.source = EncodingEntry(row.source);
  if (row.outcome == Outcome::skipped) {  // no file to convert: stays skipped
    f.evidence = "skipped";
    f.note = row.note;
  }
  return f;
}

bool same_settings(const JobPlan& a, const JobPlan& b) {
  return a.input == b.input && a.output == b.output && a.filter == b.filter &&
         a.source == b.source && a.target == b.target && a.options.detect == b.options.detect &&
         a.options.candidates == b.options.candidates && a.options.eol == b.options.eol &&
         a.options.bom == b.options.bom && a.options.rules == b.options.rules;
}

}  // namespace

void AppState::publish_preview(JobReport report) {
  // Important: a preview cut short (stopped, or ended at its checks) is no plan: "Start
  // Convert" would skip the files it never found and read those it did not reach with the
  // From Encoding instead of their detected one.
  if (!report.ran || report.stopped) return;
  Preview p;
  p.plan = task->plan();
  p.plan.options.dry_run = false;
  p.plan.options.samples = false;
  for (const FileReport& row : report.files) p.files.push_back(planned_from(row));
  p.rows = std::move(report.files);
  std::lock_guard guard(report_lock_);
  finished_preview_ = std::move(p);
}

void AppState::request_preview() {
  if (!claim_worker()) return;
  job = plan_from_settings();
  // The preview shows what needs repairing, before and after, whether or not it will be.
  job.options.repair = false;
  job.options.dry_run = true;
  job.options.samples = true;
  task = std::make_unique<ConvertJob>(job);
  start_worker();
}

bool AppState::adopt_preview() {
  std::lock_guard guard(report_lock_);
  if (!finished_preview_) return false;
  preview = std::move(finished_preview_);
  finished_preview_.reset();
  return true;
}

bool AppState::preview_current() const {
  return preview && same_settings(preview->plan, plan_from_settings());
}

void AppState::discard_stale_preview() {
  if (preview && !preview_current()) preview.reset();
}

void AppState::set_preview_source(size_t index, const EncodingEntry& source) {
  if (!preview || index >= preview->rows.size()) return;
  PlannedFile& f = preview->files[index];
  FileReport& row = preview->rows[index];
  f.source = source;
  f.evidence = source.empty() ? "chosen" : "override";
  f.confidence = -1;
  if (row.outcome == Outcome::same_file || row.outcome == Outcome::outside ||
      row.outcome == Outcome::skipped)
    return;
  // The file is read again with its new encoding: planned outcome and sample at once.
  JobPlan plan = preview->plan;
  plan.options.dry_run = true;
  plan.options.samples = true;
  const RunContext ctx = run_context(plan);
  FileConverter converter(ctx);
  JobFile file;
  file.relative_dir = f.relative_dir;
  file.file_name = f.file_name;
  file.source = f.source;
  file.evidence = f.evidence;
  row = converter.process(file);
}
