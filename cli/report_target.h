// Where --report writes: standard output, a FIFO or device as it is, or a file replaced whole.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class ReportTarget {
 public:
  ReportTarget() = default;
  ~ReportTarget();
  ReportTarget(const ReportTarget&) = delete;
  ReportTarget& operator=(const ReportTarget&) = delete;

  // Looks at `path` before the run ("-": standard output): a FIFO or character device is opened
  // now, without waiting for a reader. The line refusing it, or empty. It may not be the
  // settings file `settings`.
  std::string open(const std::string& path, const std::optional<std::string>& settings);
  // Writes the whole report; 0 or the errno.
  int write(std::string_view text);

 private:
  std::string path_;
  int fd_ = -1;       // standard output, or the stream opened before the run
  bool own_ = false;  // fd_ is closed by us
};
