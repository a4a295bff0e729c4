// The conversion job run by the worker thread, and its start and stop.
#include <chrono>
#include <exception>
#include <system_error>
#include <vector>

#include "app/app_state.h"
#include "platform/fs.h"

namespace {

constexpr const char* kBomBytes = "\xEF\xBB\xBF";

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The converter's name for a catalogue entry: "X with BOM" reads as X.
std::string charset_of(const std::string& name) {
  const size_t p = name.find("with BOM");
  if (p == std::string::npos || p == 0) return name;
  return name.substr(0, p - 1);
}

std::string relative_path(const fsutil::search_file_info& f) {
  return f.relative_dir.empty() ? f.file_name : f.relative_dir + "/" + f.file_name;
}

// Logs why a file was not converted as asked; false when it was.
bool report_failure(AppState& app, const fsutil::search_file_info& f, const ConvertResult& r) {
  switch (r.status) {
    case ConvertStatus::converted:
      return false;
    case ConvertStatus::cannot_read:
      app.log.append("Cannot read file: %s, error: %d", relative_path(f).c_str(), r.error);
      break;
    case ConvertStatus::cannot_convert:
      app.log.append("Cannot convert file: %s, %s-->%s stops at byte %llu, copied unchanged",
                     relative_path(f).c_str(), app.from_encoding.c_str(),
                     app.to_encoding.c_str(), static_cast<unsigned long long>(r.stop_offset));
      break;
    case ConvertStatus::not_supported:
      app.log.append("Cannot convert file: %s, %s-->%s is not supported, copied unchanged",
                     relative_path(f).c_str(), app.from_encoding.c_str(),
                     app.to_encoding.c_str());
      break;
    case ConvertStatus::cannot_write:
      app.log.append("Cannot write file: %s, error: %d", relative_path(f).c_str(), r.error);
      break;
  }
  return true;
}

// The run's filter and encodings from the snapshot; the three checks come first.
bool prepare_run(AppState& app) {
  if (app.job.input.empty()) {
    app.log.append("Input directory can't be empty!");
    return false;
  }
  if (!platform::is_directory(app.job.input)) {
    app.log.append("Input directory not exists!");
    return false;
  }
  if (app.job.output.empty()) {
    app.log.append("Output directory can't be empty!");
    return false;
  }
  app.active_filter = app.job.filter;
  app.from_encoding = app.job.from_encoding;
  app.to_encoding = app.job.to_encoding;
  // Important: the mark is written only for UTF-8; any other "with BOM" name just loses its
  // suffix. A source chosen "with BOM" is read as its base encoding, its mark dropped.
  app.bom_prefix.clear();
  app.to_charset = charset_of(app.to_encoding);
  if (app.to_charset != app.to_encoding && app.to_charset == "UTF-8") app.bom_prefix = kBomBytes;
  app.from_charset = charset_of(app.from_encoding);
  return true;
}

std::vector<fsutil::search_file_info> find_files(AppState& app) {
  std::vector<fsutil::search_file_info> files;
  filter_set filters;
  build_filter_set(app.active_filter, filters);
  std::string dir = app.job.input;
  // A directory that cannot be listed would otherwise leave its files silently unconverted.
  const fsutil::search_error_callback on_error = [&app](const std::string& path, int error) {
    app.log.append("Cannot search directory: %s, error: %d", path.c_str(), error);
  };
  fsutil::search_files(
      app.job.input, dir,
      [&files](fsutil::search_file_info&& f) { files.push_back(std::move(f)); }, filters,
      &on_error, &app.stop_requested);
  return files;
}

void convert_all(AppState& app) {
  app.log.append("Converting %s-->%s, please wait...", app.from_encoding.c_str(),
                 app.to_encoding.c_str());
  if (!platform::is_directory(app.job.output)) make_dirs(app.job.output);
  app.log.append("Searching files(%s)...", app.active_filter.c_str());

  auto start = std::chrono::steady_clock::now();
  const std::vector<fsutil::search_file_info> files = find_files(app);
  const int total = static_cast<int>(files.size());
  if (app.stop_requested.load(std::memory_order_relaxed)) {
    app.log.append("%s", "Conversion stopped during the search");
    return;
  }
  app.log.append("Search complete, cost: %.3f, %d files found, starting convert...",
                 seconds_since(start), total);

  start = std::chrono::steady_clock::now();
  int done = 0;
  int failed = 0;
  for (const auto& f : files) {
    if (app.stop_requested.load(std::memory_order_relaxed)) {
      app.log.append("Conversion stopped after %d of %d files", done, total);
      return;
    }
    app.log.append("Processing file: %s", f.file_name.c_str());
    if (report_failure(app, f, app.convert_file(f))) ++failed;
    ++done;
    app.progress.store(static_cast<float>(done) / static_cast<float>(total));
  }
  app.log.append("Convert complete, total: %d, cost: %.3f seconds\r\n", total,
                 seconds_since(start));
  if (failed > 0) app.log.append("%d of %d files were not converted, see above", failed, total);
}

}  // namespace

void AppState::snapshot_job_settings() {
  job.input = input;
  job.output = output;
  const bool filter_ok = filter_index >= 0 && static_cast<size_t>(filter_index) < filters.size();
  job.filter = filter_ok ? filters[static_cast<size_t>(filter_index)] : "*.*";
  // An index that names no entry keeps the previous run's name.
  if (from_index >= 0 && static_cast<size_t>(from_index) < encodings.size())
    job.from_encoding = encodings[static_cast<size_t>(from_index)];
  if (to_index >= 0 && static_cast<size_t>(to_index) < encodings.size())
    job.to_encoding = encodings[static_cast<size_t>(to_index)];
}

void AppState::run_convert_job() {
  worker_idle.exchange(false);
  struct IdleOnExit {
    std::atomic<bool>& idle;
    ~IdleOnExit() { idle.exchange(true); }
  } idle_on_exit{worker_idle};
  try {
    if (prepare_run(*this)) convert_all(*this);
  } catch (const std::exception& e) {
    log.append("Conversion stopped: %s", e.what());
  }
  scratch = ConvertScratch{};  // a big file's buffers are not kept after the run
}

void AppState::request_convert() {
  // Important: the compare-exchange makes the check and the claim one step, so two clicks
  // in a row start one job.
  bool expected = true;
  if (!worker_idle.compare_exchange_strong(expected, false)) {
    log.append("%s", "The worker thread is busy...");
    return;
  }
  // The previous job set worker_idle as its last act; its thread is ending or has ended.
  if (worker.joinable()) worker.join();
  bytes_done.store(0);
  ticks_spent.store(0);
  speed.store(0.0f);
  snapshot_job_settings();
  stop_requested.store(false);
  try {
    worker = std::thread([this] { run_convert_job(); });
  } catch (const std::system_error& e) {
    worker_idle.store(true);
    log.append("Cannot start the worker thread: %s", e.what());
  }
}

void AppState::stop_worker() {
  stop_requested.store(true);
  if (worker.joinable()) worker.join();
  stop_requested.store(false);
}
