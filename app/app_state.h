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
#include <thread>

#include "config/config.h"
#include "convert/job.h"
#include "convert/report.h"
#include "platform/fsutil.h"
#include "util/encoding_catalogue.h"
#include "util/log_buffer.h"

// What a job would do, as a dry run found it, with the user's changes per file.
struct Preview {
  JobPlan plan;                    // the settings it was made from
  std::vector<FileReport> rows;    // per file: planned outcome, encoding, evidence, sample
  std::vector<PlannedFile> files;  // per file: what "Start Convert" will do with it
};

// The persisted settings (document, path, input, output, filters, filter_index, filter_items,
// from_index, to_index) come from ConvertConfig.
struct AppState : ConvertConfig {
  struct no_config_t {};
  static constexpr no_config_t no_config{};

  float dpi_scale = 0.0f;
  int32_t window_width = 0;
  int32_t window_height = 0;
  float font_size = 0.0f;
  // Important: written by the worker, read by the UI every frame; atomics so neither waits.
  std::atomic<uint64_t> bytes_done{0};
  std::atomic<int64_t> ticks_spent{0};  // microseconds of the conversion phase (wall time)
  char speed_text[128] = {};
  std::atomic<float> speed{0.0f};  // bytes per second
  // The run's names, for the log and the Parts' readers; set by the worker after the checks.
  std::string active_filter;
  std::string from_encoding;
  std::string to_encoding;
  std::string bom_prefix;
  std::string to_charset;
  std::string from_charset;
  EncodingList encodings;
  std::string encoding_items;
  LogBuffer log;  // text_lock, text, scroll_to_end, lines_lock, lines
  std::atomic<float> progress{0.0f};
  std::atomic<bool> worker_idle{false};
  std::atomic<uint64_t> files_done{0};  // of the current job, for "done / total"
  std::atomic<uint64_t> files_total{0};

  // Important: `job` and `task` are made on the UI thread while no worker runs (in
  // request_convert); the worker only runs `task`, and the UI touches it only to ask it to
  // stop. Both are replaced only after the worker has been joined.
  JobPlan job;
  std::unique_ptr<ConvertJob> task;
  std::thread worker;
  // UI thread only: the preview on show; "Start Convert" converts exactly it while the
  // settings stay as they were when it was made.
  std::optional<Preview> preview;

  AppState();                      // catalogue, idle flag, "ouzel.yml", filter items
  explicit AppState(no_config_t);  // the same without touching any file (tests)
  ~AppState();
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;

  // Position of the first name equal to `name` (case-sensitive), or encodings.size().
  int32_t index_of(std::string_view name) const { return ::index_of(encodings, name); }

  void load_config(const std::string& config_path);
  void save_config();

  // The plan of a job from the settings as they are now.
  JobPlan plan_from_settings() const;
  // The plan of the next job from the settings, and a fresh task for it. Only while no job
  // runs.
  void snapshot_job_settings();
  // The worker's body: runs `task` (made from `job` when missing); sets worker_idle back to
  // true on every way out.
  void run_convert_job();
  // "Start Convert": busy message, or zeroed counters, snapshot and a new worker thread.
  void request_convert();
  // "Preview": a dry run with samples on a new worker thread (busy message when one runs).
  void request_preview();
  // UI thread, each frame: takes over a finished preview; true when it did.
  bool adopt_preview();
  // The preview was made from the settings as they are now.
  bool preview_current() const;
  // Drops the preview once a setting it was made from has changed.
  void discard_stale_preview();
  // Reads preview row `index` with `source` from now on (empty: as planned by the run);
  // its planned outcome and sample are worked out again at once.
  void set_preview_source(size_t index, const EncodingEntry& source);
  // Asks a running job to stop after the files in progress; returns at once.
  void request_stop();
  // Asks a running job to stop and waits for it.
  void stop_worker();

  // The last finished job's report (null before the first). Any thread.
  std::shared_ptr<const JobReport> last_report() const;
  // Writes the last report as CSV to `file`; logs the outcome.
  void save_report(const std::string& file);

 private:
  friend class WindowJobObserver;
  void publish_report(JobReport report);
  void publish_preview(JobReport report);  // the worker's; adopted by the UI's next frame
  // The busy check and the claim in one step, the last job's thread joined, the counters reset.
  bool claim_worker();
  bool start_worker();  // the thread; the plan and task made before

  // Important: the worker stores a finished job's report here once, at its end; the UI
  // thread reads it. Nothing else is shared through it.
  mutable std::mutex report_lock_;
  std::shared_ptr<const JobReport> last_report_;
  std::optional<Preview> finished_preview_;  // from the worker to adopt_preview
};
