// The window's job controller: the one worker thread, the job it runs and its progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "job/job.h"
#include "job/undo_job.h"
#include "report/report.h"
#include "util/log_buffer.h"

// Where the running job is, as one consistent copy.
struct ProgressSnapshot {
  uint64_t bytes_done = 0;
  int64_t micros = 0;     // wall time of the conversion phase
  float speed = 0.0f;     // bytes per second; 0 before any time was measured
  float fraction = 0.0f;  // of the files, 0 to 1
  uint64_t files_done = 0;
  uint64_t files_total = 0;
};

class JobController {
 public:
  // Called on the worker with a finished dry run's plan and report.
  using DryRunSink = std::function<void(const JobPlan&, JobReport)>;
  // Called on the worker with what undoing a run would do (an undo that only looked).
  using UndoLookSink = std::function<void(JobReport)>;

  JobController(LogBuffer& log, DryRunSink dry_runs);
  ~JobController();  // asks a running job to stop and waits for it
  JobController(const JobController&) = delete;
  JobController& operator=(const JobController&) = delete;

  // The busy check and the claim in one step (a "busy" log line when it fails), the last
  // worker joined, the progress zeroed.
  bool claim();
  // The job of `plan`, to run next. Only while no worker runs.
  ConvertJob& prepare(JobPlan plan);
  // The undo of `plan`, to run next instead of a conversion. Only while no worker runs.
  UndoJob& prepare_undo(UndoPlan plan);
  // Where an undo that only looked hands its report (the UI's confirmation).
  void on_undo_look(UndoLookSink sink) { undo_looks_ = std::move(sink); }
  // Runs the prepared job (or one made from the last plan) on this thread; idle again after.
  void run();
  // run() on a new worker thread, after claim() and prepare().
  bool launch();
  // Claims the worker and runs `work` on a new thread; false, silently, when it is busy.
  bool launch_work(std::function<void()> work);

  bool idle() const { return idle_.load(); }
  // The flag itself: the window's name for it, and tests that play a running job.
  std::atomic<bool>& idle_flag() { return idle_; }
  // Asks a running job to stop after its files in progress; returns at once.
  void request_stop();
  bool stop_requested() const;  // UI thread
  // Asks a running job to stop and waits for its thread.
  void stop_and_wait();
  // Waits for a worker that ends on its own.
  void wait();

  // The plan of the running or last job (UI thread, or the worker while it runs).
  const JobPlan& plan() const { return plan_; }

  // Owned by the worker, which replaces it after each file; any thread reads a copy.
  ProgressSnapshot progress() const;
  void publish(const ProgressSnapshot& p);

  // The last finished job's report (null before the first). Any thread.
  std::shared_ptr<const JobReport> last_report() const;

 private:
  void finish(JobReport report);
  void finish_undo(JobReport report);
  bool spawn(std::function<void()> work);  // the worker claimed before

  LogBuffer& log_;
  DryRunSink dry_runs_;
  std::atomic<bool> idle_{true};
  // Important: `plan_` and `task_` are made on the UI thread while no worker runs (in
  // prepare); the worker only runs `task_`, and the UI touches it only to ask it to stop.
  // Both are replaced only after the worker has been joined.
  JobPlan plan_;
  std::unique_ptr<ConvertJob> task_;
  std::unique_ptr<UndoJob> undo_;  // set: the next run is this undo, not task_
  UndoLookSink undo_looks_;
  std::thread worker_;
  mutable std::mutex lock_;  // guards the two below
  ProgressSnapshot progress_;
  std::shared_ptr<const JobReport> last_report_;
};
