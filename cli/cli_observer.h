// The command line's observer of a job: file lines, a progress line on a terminal, a summary.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/progress_line.h"
#include "job/job_observer.h"

enum class Verbosity { quiet, normal, verbose };

struct ConsoleStyle {
  bool terminal = false;  // a progress line is redrawn in place
  Verbosity verbosity = Verbosity::normal;
  bool check = false;    // the files that would change are listed too
  bool dry_run = false;  // nothing is written: the summary says so
};

// "src/a.c: cannot-convert: stops at byte 3 (line 1, column 4)"; checked against its policy
// "src/a.c:3: CRLF line end, LF wanted; decided by ..."; with `check`, a file that
// would change says so.
std::string file_line(const FileReport& report, bool check);

// Whether a file gets its line: every file when verbose; otherwise those not converted
// (quiet: only failures), and with --check those that fail it.
bool file_is_listed(const FileReport& report, const ConsoleStyle& style);

// The closing lines: files, time and speed, the count of each outcome, what failed.
std::vector<std::string> summary_text(const JobReport& report, const ConsoleStyle& style);

// Important: the job calls it one call at a time from its worker threads; all it writes
// goes to one stream, so lines and the progress line never interleave.
class CliObserver final : public JobObserver {
 public:
  CliObserver(std::FILE* out, ConsoleStyle style) : out_(out), style_(style) {}

  void message(const std::string& text) override;
  void search_done(size_t total) override;
  bool wants_file_lines() const override { return false; }  // each file's line is made here
  void file_done(size_t index, const FileReport& report, const std::vector<std::string>& lines,
                 const JobProgress& progress) override;
  void file_revised(size_t index, const FileReport& report, const std::string& line) override;
  void file_settled(size_t index, const FileReport& report) override;

  // After the run: the search failures, the progress line cleared, the summary.
  void finish(const JobReport& report);

  // A line of the program's own (an error, say), printed above the progress line.
  void print_line(const std::string& line);

 private:
  void draw_progress();
  void clear_progress();

  std::FILE* out_;
  ConsoleStyle style_;
  RedrawThrottle throttle_;
  JobProgress last_;
  bool progress_shown_ = false;
};
