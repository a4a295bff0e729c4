// The one application object: settings, job state, throughput, catalogue and log.
#pragma once

#include <yaml-cpp/yaml.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "convert/fsutil.h"
#include "convert/transcoder.h"
#include "util/encoding_catalogue.h"
#include "util/log_buffer.h"

// What a job needs of the settings, copied on the thread that starts it, so that editing
// the fields or combos while the job runs changes nothing under it.
struct JobSettings {
  std::string input;
  std::string output;
  std::string filter;         // the selected filter, or "*.*" when the index is out of range
  std::string from_encoding;  // as chosen; kept from the previous run when out of range
  std::string to_encoding;
};

struct AppState {
  struct no_config_t {};
  static constexpr no_config_t no_config{};

  float dpi_scale = 0.0f;
  int32_t window_width = 0;
  int32_t window_height = 0;
  float font_size = 0.0f;
  YAML::Node document;
  std::string path;
  std::string input;
  std::string output;
  // Important: written by the worker, read by the UI every frame; atomics so neither waits.
  std::atomic<uint64_t> bytes_done{0};
  std::atomic<int64_t> ticks_spent{0};  // microseconds of the monotonic clock
  char speed_text[128] = {};
  std::atomic<float> speed{0.0f};  // bytes per second
  int32_t filter_index = 0;
  std::vector<std::string> filters;
  std::string filter_items;
  std::string active_filter;
  int32_t from_index = 0;
  int32_t to_index = 0;
  std::string from_encoding;
  std::string to_encoding;
  std::string bom_prefix;
  std::string to_charset;
  std::string from_charset;  // source name handed to iconv ("UTF-8 with BOM" reads as UTF-8)
  EncodingList encodings;
  std::string encoding_items;
  LogBuffer log;  // text_lock, text, scroll_to_end, lines_lock, lines
  std::atomic<float> progress{0.0f};
  std::atomic<bool> worker_idle{false};

  JobSettings job;                         // snapshot of the running job
  std::atomic<bool> stop_requested{false};  // checked by the search and between files
  std::thread worker;
  ConvertScratch scratch;  // worker only

  AppState();                     // catalogue, idle flag, "ouzel.yml", filter items
  explicit AppState(no_config_t);  // the same without touching any file (tests)
  ~AppState();
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;

  // Position of the first name equal to `name` (case-sensitive), or encodings.size().
  int32_t index_of(std::string_view name) const;

  void load_config(const std::string& config_path);
  void save_config();
  void build_filter_items();

  ConvertResult convert_file(const fsutil::search_file_info& file);

  // Copies the settings the job reads into `job`. Only while no job runs.
  void snapshot_job_settings();
  // The worker's body. Expects `job` filled; sets worker_idle back to true on every way out.
  void run_convert_job();
  // "Start Convert": busy message, or zeroed counters, snapshot and a new worker thread.
  void request_convert();
  // Asks a running job to stop (its search at once, else after its current file) and waits.
  void stop_worker();
};
