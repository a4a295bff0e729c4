// SIGINT and SIGTERM as a stop request: the job finishes the files in progress and reports.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

// Important: construct it on the main thread before any other thread starts. It blocks the
// two signals there, so every later thread inherits the mask and only the watcher thread
// ever receives them (through sigwait, so no code runs in a signal handler). They stay
// blocked to the end of the process; later signals only say that the stop is under way.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Starts the watcher; `on_stop` runs on it once, at the first signal.
  void watch(std::function<void()> on_stop);

  bool received() const { return received_.load(); }

 private:
  void run();

  sigset_t set_;
  std::function<void()> on_stop_;
  std::atomic<bool> received_{false};
  std::atomic<bool> closing_{false};
  std::thread watcher_;
};
