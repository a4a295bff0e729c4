// The preview: a dry run with samples, handed to the UI thread, kept while the settings stay,
// with the user's choice of encoding or exclusion per file.
#include "app/app_state.h"
#include "job/file_convert.h"
#include "job/in_place.h"

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
         a.options.bom == b.options.bom && a.options.rules == b.options.rules &&
         a.options.editorconfig == b.options.editorconfig;
}

}  // namespace

void AppState::publish_preview(const JobPlan& plan, JobReport report) {
  // Important: a preview cut short (stopped, or ended at its checks) is no plan: "Start
  // Convert" would skip the files it never found and read those it did not reach with the
  // From Encoding instead of their detected one.
  if (!report.ran || report.stopped) return;
  Preview p;
  p.plan = plan;
  p.plan.options.dry_run = false;
  p.plan.options.samples = false;
  for (const FileReport& row : report.files) p.files.push_back(planned_from(row));
  p.rows = std::move(report.files);
  p.rereading.assign(p.rows.size(), false);
  std::lock_guard guard(preview_lock_);
  finished_preview_ = std::move(p);
}

void AppState::request_preview() {
  std::optional<JobPlan> claimed = claim_with_plan();
  if (!claimed) return;
  JobPlan& plan = *claimed;
  // The preview shows what needs repairing, before and after, whether or not it will be.
  plan.options.repair = false;
  plan.options.dry_run = true;
  plan.options.samples = true;
  jobs.prepare(std::move(plan));
  jobs.launch();
}

bool AppState::adopt_preview() {
  std::vector<RereadRow> rows;
  bool arrived = false;
  {
    std::lock_guard guard(preview_lock_);
    if (finished_preview_) {
      preview = std::move(finished_preview_);
      preview->serial = ++preview_serial_;
      finished_preview_.reset();
      arrived = true;
    }
    rows.swap(reread_done_);
  }
  if (!preview) return false;
  for (RereadRow& r : rows) {
    // A row chosen again since is read again once more; this reading is stale.
    if (r.serial != preview->serial || !(preview->files[r.index].source == r.source)) continue;
    preview->rows[r.index] = std::move(r.row);
    preview->rereading[r.index] = false;
    preview->reread_arrived.push_back(r.index);
  }
  start_rereads();
  return arrived;
}

bool AppState::preview_current() const {
  if (!preview) return false;
  const platform::Result<JobPlan> plan = plan_from_settings();
  return plan && same_settings(preview->plan, *plan);
}

void AppState::discard_stale_preview() {
  if (preview && !preview_current()) preview.reset();
}

void AppState::set_preview_source(size_t index, const EncodingEntry& source) {
  if (!preview || index >= preview->rows.size()) return;
  PlannedFile& f = preview->files[index];
  const FileReport& row = preview->rows[index];
  f.source = source;
  f.evidence = source.empty() ? "chosen" : "override";
  f.confidence = -1;
  if (row.outcome == Outcome::same_file || row.outcome == Outcome::outside ||
      row.outcome == Outcome::skipped)
    return;
  // The file is read again with its new encoding, off the UI thread.
  preview->rereading.resize(preview->rows.size());
  preview->rereading[index] = true;
  preview->reread_waiting.push_back(index);
  start_rereads();
}

size_t AppState::set_preview_folder_source(size_t index, const EncodingEntry& source) {
  if (!preview || index >= preview->rows.size()) return 0;
  const std::string folder = preview->files[index].relative_dir;
  size_t set = 0;
  for (size_t i = 0; i < preview->rows.size(); ++i) {
    const PlannedFile& f = preview->files[i];
    const FileReport& row = preview->rows[i];
    const bool unsure = outcome_is_unsettled(row.outcome) || row.evidence == "guess";
    if (f.relative_dir != folder || f.excluded || f.evidence == "override" || !unsure) continue;
    set_preview_source(i, source);
    ++set;
  }
  return set;
}

void AppState::start_rereads() {
  if (!preview || preview->reread_waiting.empty()) return;
  JobPlan plan = preview->plan;
  plan.options.dry_run = true;
  plan.options.samples = true;
  std::vector<RereadRow> todo;
  std::vector<JobFile> files;
  for (const size_t index : preview->reread_waiting) {
    const PlannedFile& f = preview->files[index];
    JobFile file;
    file.relative_dir = f.relative_dir;
    file.file_name = f.file_name;
    file.source = f.source;
    file.evidence = f.evidence;
    files.push_back(std::move(file));
    todo.push_back(RereadRow{preview->serial, index, f.source, {}});
  }
  auto work = [this, plan = std::move(plan), files = std::move(files),
               todo = std::move(todo)]() mutable {
    const RunContext ctx = run_context(plan);
    FileConverter converter(ctx);
    for (size_t i = 0; i < files.size(); ++i) todo[i].row = converter.process(files[i]);
    std::lock_guard guard(preview_lock_);
    for (RereadRow& r : todo) reread_done_.push_back(std::move(r));
  };
  // A busy worker (a job, or rows read before) leaves them waiting for a later frame.
  if (jobs.launch_work(std::move(work))) preview->reread_waiting.clear();
}
