// The one application object: the window's adapter over the settings, the engine and the log.
#pragma once

#include <yaml-cpp/yaml.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/job_controller.h"
#include "config/config.h"
#include "job/job.h"
#include "platform/fsutil.h"
#include "report/report.h"
#include "util/encoding_catalogue.h"
#include "util/log_buffer.h"

// What a job would do, as a dry run found it, with the user's changes per file.
struct Preview {
  JobPlan plan;                        // the settings it was made from
  std::vector<FileReport> rows;        // per file: planned outcome, encoding, evidence, sample
  std::vector<PlannedFile> files;      // per file: what "Start Convert" will do with it
  std::vector<bool> rereading;         // per file: read again with a new encoding, not back
  std::vector<size_t> reread_waiting;  // rows to read again once the worker is free
  std::vector<size_t> reread_arrived;  // rows read again, in the order they came back
  uint64_t serial = 0;                 // tells one preview's rows read again from another's

  bool rereading_row(size_t index) const { return index < rereading.size() && rereading[index]; }
};

// A preview row read again with its new encoding on the worker.
struct RereadRow {
  uint64_t serial;  // the preview's
  size_t index;
  EncodingEntry source;  // the encoding it was read with
  FileReport row;
};

// What the window holds: the persisted settings (document, path, input, output, filters,
// filter_index, from_index, to_index come from ConvertConfig), the encoding
// catalogue, the log, the job controller and the preview.
struct AppState : ConvertConfig {
  struct no_config_t {};
  static constexpr no_config_t no_config{};

  float dpi_scale = 0.0f;
  int32_t window_width = 0;
  int32_t window_height = 0;
  float font_size = 0.0f;
  EncodingList encodings;
  LogBuffer log;  // text_lock, text, scroll_to_end, lines_lock, lines
  // The worker thread, the job it runs, its progress and its last report.
  JobController jobs;
  // True while no job runs; the controller's own flag.
  std::atomic<bool>& worker_idle;
  // UI thread only: the preview on show; "Start Convert" converts exactly it while the
  // settings stay as they were when it was made.
  std::optional<Preview> preview;

  AppState();                      // catalogue, idle flag, "ouzel.yml"
  explicit AppState(no_config_t);  // the same without touching any file (tests)
  ~AppState();
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;

  // Position of the first name equal to `name` (case-sensitive), or encodings.size().
  int32_t index_of(std::string_view name) const { return ::index_of(encodings, name); }

  void load_config(const std::string& config_path);
  void save_config();

  // The plan of a job from the settings as they are now (resolve_plan), or why there is none.
  platform::Result<JobPlan> plan_from_settings() const;
  // "Start Convert": busy message, or zeroed counters, snapshot and a new worker thread.
  void request_convert();
  // "Preview": a dry run with samples on a new worker thread (busy message when one runs).
  void request_preview();
  // UI thread, each frame: takes over a finished preview and the rows read again; true when
  // a new preview arrived. Starts the rows waiting to be read again when the worker is free.
  bool adopt_preview();
  // The preview was made from the settings as they are now.
  bool preview_current() const;
  // Drops the preview once a setting it was made from has changed.
  void discard_stale_preview();
  // Reads preview row `index` with `source` from now on (empty: as planned by the run); its
  // planned outcome and sample are worked out again on the worker, the row pending meanwhile.
  void set_preview_source(size_t index, const EncodingEntry& source);
  // The same for every row of row `index`'s folder that detection left unsettled or read as
  // a guess (not left out, not chosen by hand); returns how many rows it set.
  size_t set_preview_folder_source(size_t index, const EncodingEntry& source);
  // Asks a running job to stop after the files in progress; returns at once.
  void request_stop() { jobs.request_stop(); }
  // Asks a running job to stop and waits for it.
  void stop_worker() { jobs.stop_and_wait(); }

  // The last finished job's report (null before the first). Any thread.
  std::shared_ptr<const JobReport> last_report() const { return jobs.last_report(); }

  // File > Undo Last Conversion: no job runs and the input directory keeps a run in place.
  bool undo_available() const;
  // What undoing the input's newest run would do, looked at on the worker (nothing changes);
  // take_undo_look hands its report to the UI thread once there, for the confirmation.
  void request_undo_look();
  std::optional<JobReport> take_undo_look();
  // Undoes run `id` kept for `root` on the worker, as confirmed; its report becomes the last.
  void request_undo(const std::string& root, const std::string& id);
  // Writes the last report as CSV to `file`; logs the outcome.
  void save_report(const std::string& file);

 private:
  void publish_preview(const JobPlan& plan, JobReport report);  // on the worker
  void start_rereads();
  // The plan and the worker claimed, or nothing (logged: why there is no plan, or busy).
  std::optional<JobPlan> claim_with_plan();

  // Important: the worker stores a finished preview and rows read again here; the UI thread
  // takes them in adopt_preview. Nothing else is shared through it.
  mutable std::mutex preview_lock_;
  std::optional<Preview> finished_preview_;
  std::vector<RereadRow> reread_done_;
  std::optional<JobReport> undo_look_;  // what undoing would do, until the UI takes it
  uint64_t preview_serial_ = 0;         // UI thread
};
