// The progress line a terminal shows while a job runs, and how often it may be redrawn.
#pragma once

#include <chrono>
#include <string>

#include "job/job_observer.h"

// "120/340 files, 3.4 MB/s, 0:12 left" (the speed and the time left once they are known).
std::string progress_text(const JobProgress& progress);

// "1:05", "1:02:03": a duration in whole seconds.
std::string clock_text(int64_t seconds);

// Lets a redraw through at most once per interval; the first one always.
class RedrawThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  explicit RedrawThrottle(Clock::duration interval = std::chrono::milliseconds(100))
      : interval_(interval) {}

  bool due(Clock::time_point now);

 private:
  Clock::duration interval_;
  Clock::time_point last_{};
  bool drawn_ = false;
};
