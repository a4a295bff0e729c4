// A sigwait thread turns SIGINT and SIGTERM into a job's stop request.
#include "cli/stop_signals.h"

#include <pthread.h>
#include <unistd.h>

#include <string>

#include "util/i18n.h"

namespace {

// One line of its own, even after a progress line.
void say(const char* text) {
  const std::string line = std::string("\nouzel-convert: ") + text + "\n";
  // write(2), not stdio: the main thread may hold the stream's lock mid-line.
  const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
  (void)n;
}

}  // namespace

StopSignals::StopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, nullptr);
}

StopSignals::~StopSignals() {
  if (watcher_.joinable()) {
    closing_.store(true);
    // Wakes the watcher's sigwait; with `closing_` set it ends without counting a stop.
    pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
  }
}

void StopSignals::watch(std::function<void()> on_stop) {
  on_stop_ = std::move(on_stop);
  watcher_ = std::thread([this] { run(); });
}

void StopSignals::run() {
  for (;;) {
    int signal = 0;
    if (sigwait(&set_, &signal) != 0) continue;
    if (closing_.load()) return;
    // Important: no hard exit on a second signal; a new target being written would be left
    // truncated under its name.
    if (received_.exchange(true)) {
      say(_("still finishing the files in progress"));
      continue;
    }
    say(_("stopping after the files in progress"));
    if (on_stop_) on_stop_();
  }
}
