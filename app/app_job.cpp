// The window's side of a conversion job: the plan from the settings, the worker thread, and
// the observer that feeds the log, the throughput and the progress.
#include <exception>
#include <system_error>

#include "app/app_state.h"
#include "convert/utf8.h"

class WindowJobObserver final : public JobObserver {
 public:
  explicit WindowJobObserver(AppState& app) : app_(app) {}

  void message(const std::string& text) override { app_.log.append("%s", text.c_str()); }

  void search_done(size_t total) override {
    app_.files_done.store(0);
    app_.files_total.store(total);
  }

  void file_done(size_t, const FileReport&, const std::vector<std::string>& lines,
                 const JobProgress& p) override {
    app_.log.append_lines(lines);
    app_.bytes_done.store(p.bytes_done, std::memory_order_relaxed);
    app_.ticks_spent.store(p.micros, std::memory_order_relaxed);
    // No time measured yet means no speed yet, not infinity.
    const float speed =
        p.micros > 0 ? static_cast<float>(p.bytes_done) / (static_cast<float>(p.micros) / 1e6f)
                     : 0.0f;
    app_.speed.store(speed, std::memory_order_relaxed);
    app_.files_done.store(p.files_done, std::memory_order_relaxed);
    app_.progress.store(static_cast<float>(p.files_done) / static_cast<float>(p.files_total));
  }

 private:
  AppState& app_;
};

namespace {

// The Parts' fields of the run, mirrored from its plan once the checks have passed.
void mirror_run_fields(AppState& app, const JobPlan& plan) {
  app.active_filter = plan.filter;
  app.from_encoding = plan.source.name;
  app.to_encoding = plan.target.name;
  app.from_charset = plan.source.charset;
  app.to_charset = plan.target.charset;
  app.bom_prefix = plan.target.utf8_mark ? kUtf8Bom : "";
}

}  // namespace

JobPlan AppState::plan_from_settings() const {
  // Not a copy of `job`: its file list (a converted preview's, possibly 50,000 entries) would
  // be copied in every frame that checks whether the preview is still current.
  JobPlan plan;
  plan.source = job.source;
  plan.target = job.target;
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
  return plan;
}

void AppState::snapshot_job_settings() {
  job = plan_from_settings();
  task = std::make_unique<ConvertJob>(job);
}

void AppState::run_convert_job() {
  worker_idle.exchange(false);
  struct IdleOnExit {
    std::atomic<bool>& idle;
    ~IdleOnExit() { idle.exchange(true); }
  } idle_on_exit{worker_idle};
  if (!task) task = std::make_unique<ConvertJob>(job);
  try {
    WindowJobObserver observer(*this);
    JobReport report = task->run(observer);
    if (report.ran) mirror_run_fields(*this, task->plan());
    if (task->plan().options.dry_run)
      publish_preview(std::move(report));
    else
      publish_report(std::move(report));
  } catch (const std::exception& e) {
    log.append("Conversion stopped: %s", e.what());
  }
}

bool AppState::start_worker() {
  try {
    worker = std::thread([this] { run_convert_job(); });
    return true;
  } catch (const std::system_error& e) {
    worker_idle.store(true);
    log.append("Cannot start the worker thread: %s", e.what());
    return false;
  }
}

bool AppState::claim_worker() {
  // Important: the compare-exchange makes the check and the claim one step, so two clicks
  // in a row start one job.
  bool expected = true;
  if (!worker_idle.compare_exchange_strong(expected, false)) {
    log.append("%s", "The worker thread is busy...");
    return false;
  }
  // The previous job set worker_idle as its last act; its thread is ending or has ended.
  if (worker.joinable()) worker.join();
  bytes_done.store(0);
  ticks_spent.store(0);
  speed.store(0.0f);
  // The bar must not show the previous job's counts while this one searches.
  progress.store(0.0f);
  files_done.store(0);
  files_total.store(0);
  return true;
}

void AppState::request_convert() {
  if (!claim_worker()) return;
  snapshot_job_settings();
  if (preview && preview_current()) {
    // Exactly the plan as shown, the user's overrides and exclusions included.
    job.files = preview->files;
    task = std::make_unique<ConvertJob>(job);
  }
  preview.reset();  // what it showed is about to change
  start_worker();
}

void AppState::request_stop() {
  if (task && !worker_idle.load()) task->request_stop();
}

void AppState::stop_worker() {
  if (task) task->request_stop();
  if (worker.joinable()) worker.join();
}
