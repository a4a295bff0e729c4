// The undo of one run in place as a task object: its plan, progress, stop request and report.
#pragma once

#include <atomic>
#include <string>

#include "job/job_observer.h"
#include "report/report.h"

struct UndoPlan {
  std::string root;        // the tree whose undo store keeps the run
  std::string run;         // its ID; empty: the newest run kept
  bool force = false;      // files deleted since the run are put back too
  bool durable = true;     // what goes back is on the disk before the run's store goes
  bool look_only = false;  // find what would go back and what cannot; change nothing
  std::string report;      // where the report goes (none: empty); never over a file kept
};

// Each file the run replaced goes back where it still holds what the run wrote (restored);
// one changed since is left as it is (changed-since), one deleted since stays deleted unless
// forced (deleted-since). At any instant a file holds the run's content or its old one, and an
// undo stopped or killed halfway is finished by the next. Once every file is back, the run's
// store is removed. The report lists every file the run kept, the run in `undone`.
class UndoJob {
 public:
  explicit UndoJob(UndoPlan plan) : plan_(std::move(plan)) {}
  UndoJob(const UndoJob&) = delete;
  UndoJob& operator=(const UndoJob&) = delete;

  // Runs the whole undo on the calling thread and returns its report. Once per object.
  JobReport run(JobObserver& observer);

  // From any thread: the undo ends after the file in progress.
  void request_stop() { stop_.store(true); }
  bool stop_requested() const { return stop_.load(std::memory_order_relaxed); }

  const UndoPlan& plan() const { return plan_; }

 private:
  const UndoPlan plan_;
  std::atomic<bool> stop_{false};
};
