// The conversion job run by the worker thread, and its start and stop.
#include "app/app_state.h"

void AppState::snapshot_job_settings() {}
void AppState::run_convert_job() { worker_idle.store(true); }
void AppState::request_convert() {}
void AppState::stop_worker() {
  stop_requested.store(true);
  if (worker.joinable()) worker.join();
  stop_requested.store(false);
}
