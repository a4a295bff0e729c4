// The worker thread, the job it runs, the observer that feeds the log and the progress.
#include "app/job_controller.h"

#include <exception>
#include <system_error>

#include "util/i18n.h"

namespace {

class WindowJobObserver final : public JobObserver {
 public:
  WindowJobObserver(JobController& jobs, LogBuffer& log) : jobs_(jobs), log_(log) {}

  void message(const std::string& text) override { log_.append("%s", text.c_str()); }

  void search_done(size_t total) override {
    // The bar keeps its value until a file is done: a run without files leaves it.
    ProgressSnapshot p = jobs_.progress();
    p.files_done = 0;
    p.files_total = total;
    jobs_.publish(p);
  }

  void file_done(size_t, const FileReport&, const std::vector<std::string>& lines,
                 const JobProgress& p) override {
    log_.append_lines(lines);
    ProgressSnapshot s;
    s.bytes_done = p.bytes_done;
    s.micros = p.micros;
    // No time measured yet means no speed yet, not infinity.
    s.speed = p.micros > 0
                  ? static_cast<float>(p.bytes_done) / (static_cast<float>(p.micros) / 1e6f)
                  : 0.0f;
    s.files_done = p.files_done;
    s.files_total = p.files_total;
    s.fraction = static_cast<float>(p.files_done) / static_cast<float>(p.files_total);
    jobs_.publish(s);
  }

 private:
  JobController& jobs_;
  LogBuffer& log_;
};

}  // namespace

JobController::JobController(LogBuffer& log, DryRunSink dry_runs)
    : log_(log), dry_runs_(std::move(dry_runs)) {}

JobController::~JobController() { stop_and_wait(); }

bool JobController::claim() {
  // Important: the compare-exchange makes the check and the claim one step, so two clicks
  // in a row start one job.
  bool expected = true;
  if (!idle_.compare_exchange_strong(expected, false)) {
    log_.append("%s", _("The worker thread is busy..."));
    return false;
  }
  // The previous worker set the idle flag as its last act; its thread is ending or has ended.
  if (worker_.joinable()) worker_.join();
  // The bar must not show the previous job's counts while this one searches.
  publish(ProgressSnapshot{});
  return true;
}

ConvertJob& JobController::prepare(JobPlan plan) {
  undo_.reset();
  plan_ = std::move(plan);
  task_ = std::make_unique<ConvertJob>(plan_);
  return *task_;
}

UndoJob& JobController::prepare_undo(UndoPlan plan) {
  undo_ = std::make_unique<UndoJob>(std::move(plan));
  return *undo_;
}

void JobController::run() {
  idle_.store(false);
  struct IdleOnExit {
    std::atomic<bool>& idle;
    ~IdleOnExit() { idle.store(true); }
  } idle_on_exit{idle_};
  if (!task_ && !undo_) task_ = std::make_unique<ConvertJob>(plan_);
  try {
    WindowJobObserver observer(*this, log_);
    if (undo_)
      finish_undo(undo_->run(observer));
    else
      finish(task_->run(observer));
  } catch (const std::exception& e) {
    log_.append(_("Conversion stopped: %s"), e.what());
  }
}

void JobController::finish(JobReport report) {
  if (task_->plan().options.dry_run) {
    if (dry_runs_) dry_runs_(task_->plan(), std::move(report));
    return;
  }
  auto shared = std::make_shared<const JobReport>(std::move(report));
  std::lock_guard guard(lock_);
  last_report_ = std::move(shared);
}

void JobController::finish_undo(JobReport report) {
  if (undo_->plan().look_only) {
    if (undo_looks_) undo_looks_(std::move(report));
    return;
  }
  auto shared = std::make_shared<const JobReport>(std::move(report));
  std::lock_guard guard(lock_);
  last_report_ = std::move(shared);
}

bool JobController::launch() {
  return spawn([this] { run(); });
}

bool JobController::launch_work(std::function<void()> work) {
  bool expected = true;
  if (!idle_.compare_exchange_strong(expected, false)) return false;
  return spawn(std::move(work));
}

bool JobController::spawn(std::function<void()> work) {
  if (worker_.joinable()) worker_.join();
  try {
    worker_ = std::thread([this, work = std::move(work)] {
      struct IdleOnExit {
        std::atomic<bool>& idle;
        ~IdleOnExit() { idle.store(true); }
      } idle_on_exit{idle_};
      work();
    });
    return true;
  } catch (const std::system_error& e) {
    idle_.store(true);
    log_.append(_("Cannot start the worker thread: %s"), e.what());
    return false;
  }
}

void JobController::request_stop() {
  if (idle_.load()) return;
  if (undo_) undo_->request_stop();
  if (task_) task_->request_stop();
}

bool JobController::stop_requested() const {
  return undo_ ? undo_->stop_requested() : task_ && task_->stop_requested();
}

void JobController::stop_and_wait() {
  if (undo_) undo_->request_stop();
  if (task_) task_->request_stop();
  wait();
}

void JobController::wait() {
  if (worker_.joinable()) worker_.join();
}

ProgressSnapshot JobController::progress() const {
  std::lock_guard guard(lock_);
  return progress_;
}

void JobController::publish(const ProgressSnapshot& p) {
  std::lock_guard guard(lock_);
  progress_ = p;
}

std::shared_ptr<const JobReport> JobController::last_report() const {
  std::lock_guard guard(lock_);
  return last_report_;
}
