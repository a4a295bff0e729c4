// The progress bar's words: "done / total files" and, once it can be told, the time left.
#pragma once

#include <cstdint>
#include <string>

// "0:42", "12:05", "1:02:03": whole seconds, rounded up.
std::string format_time_left(double seconds);

// Measures a job's conversion phase on the window's clock, frame by frame.
class JobTimer {
 public:
  // Each frame: whether a job runs, its file count (0 while it searches), the time now.
  void update(bool busy, uint64_t total, double now_seconds);
  // Seconds since the conversion phase began; 0 when no job converts.
  double elapsed(double now_seconds) const;

 private:
  bool converting_ = false;
  double start_ = 0.0;
};

// The bar's overlay: empty before any file count is known, else "done / total files", with
// ", m:ss left" while the job runs and a second or a few percent have passed.
std::string progress_text(uint64_t done, uint64_t total, bool busy, double elapsed_seconds);
