// LogBuffer: formatting outside the locks, the 100-line cap and the rebuilt display text.
#include "util/log_buffer.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "util/strfmt.h"

std::string log_timestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  const int ms =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "[%d-%02d-%02d %02d:%02d:%02d.%03d]", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buf;
}

void LogBuffer::append(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = kestrum::_strfmt(format, args);
  va_end(args);

  std::lock_guard lines_guard(lines_lock);
  // The stamp is read under lines_lock so lines stay in timestamp order.
  std::string line = log_timestamp();
  line += message;
  lines.push_back(std::move(line));
  if (lines.size() > kMaxLines) lines.pop_front();
  rebuild_text();
}

void LogBuffer::append_lines(const std::vector<std::string>& messages) {
  if (messages.empty()) return;
  std::lock_guard lines_guard(lines_lock);
  const std::string stamp = log_timestamp();
  for (const auto& m : messages) {
    lines.push_back(stamp + m);
    if (lines.size() > kMaxLines) lines.pop_front();
  }
  rebuild_text();
}

void LogBuffer::rebuild_text() {
  size_t total = 0;
  for (const auto& l : lines) total += l.size() + 2;
  std::string display;
  display.reserve(total);
  for (const auto& l : lines) {
    display += l;
    display += "\r\n";
  }
  std::lock_guard text_guard(text_lock);
  text = std::move(display);
  scroll_to_end = true;
}

void LogBuffer::clear() {
  std::lock_guard lines_guard(lines_lock);
  std::deque<std::string>().swap(lines);
  std::lock_guard text_guard(text_lock);
  text.clear();
  scroll_to_end = true;
}
