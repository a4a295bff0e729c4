// The thread-safe log shown in the window: the newest 100 timestamped lines and their display text.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct LogBuffer {
  static constexpr size_t kMaxLines = 100;

  // Important: lock order is always lines_lock, then text_lock. Whoever holds text_lock
  // (the log view) must never append, since append takes lines_lock first.
  std::recursive_mutex text_lock;
  std::string text;  // every kept line followed by "\r\n"
  bool scroll_to_end = false;
  std::recursive_mutex lines_lock;
  std::deque<std::string> lines;

  // One timestamped line per call, from any thread.
  void append(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Several lines that stay together: no other thread's line comes between them.
  void append_lines(const std::vector<std::string>& messages);
  void clear();

 private:
  void rebuild_text();  // with lines_lock held
};

// "[YYYY-MM-DD hh:mm:ss.mmm]" of the local time now.
std::string log_timestamp();
