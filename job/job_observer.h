// How a conversion job reports while it runs: messages, each finished file, progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/report.h"

struct JobProgress {
  size_t files_done = 0;
  size_t files_total = 0;
  uint64_t bytes_done = 0;  // read from the sources of the files done
  int64_t micros = 0;       // wall time of the conversion phase so far
};

// Important: the job calls an observer one call at a time (never two at once), from
// whichever of its threads finished the work; an observer needs no lock against the job,
// only around what it shares with its own readers (the window's thread, say).
class JobObserver {
 public:
  virtual ~JobObserver() = default;

  // One line for the user, already worded ("Searching files(*.cpp)...").
  virtual void message(const std::string& text) = 0;

  // The file list is known; `total` files will be handled.
  virtual void search_done(size_t total) { (void)total; }

  // Whether file_done wants each file's log lines; without them they are not made.
  virtual bool wants_file_lines() const { return true; }

  // One file is finished. `lines` are its log lines, to be kept together: "Processing
  // file: NAME" and, unless it was plainly converted, the line that says what happened.
  virtual void file_done(size_t index, const FileReport& report,
                         const std::vector<std::string>& lines, const JobProgress& progress) {
    (void)index;
    (void)report;
    (void)lines;
    (void)progress;
  }

  // A file reported done turned out otherwise: its target could not be published after all
  // (cannot-write, or changed). `line` says so for the log; it goes to message() unless the
  // observer words it itself.
  virtual void file_revised(size_t index, const FileReport& report, const std::string& line) {
    (void)index;
    (void)report;
    message(line);
  }

  // A file's outcome is final: once for every file done, right after file_done, or once its
  // target was published (after file_revised when it could not be).
  virtual void file_settled(size_t index, const FileReport& report) {
    (void)index;
    (void)report;
  }
};
