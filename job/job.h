// The conversion job as a task object: it owns its plan, progress, stop request and report.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "job/job_observer.h"
#include "policy/rules.h"
#include "report/report.h"
#include "transcode/line_endings.h"
#include "transcode/marks.h"
#include "undo/store.h"
#include "util/encoding_catalogue.h"

struct RunContext;

struct JobOptions {
  unsigned threads = 1;  // conversion threads; 0 means one per core
  bool dry_run = false;  // classify and convert in memory, write nothing
  bool samples = false;  // keep each file's first non-ASCII line (a preview)
  bool durable = true;   // targets flushed to the disk (in batches) before they are published
  bool detect = false;   // decide each file's source; the plan's source is the preferred one
  std::vector<std::string> candidates;  // encodings and presets; empty: the source's preset
  // Detection's best reading is taken (evidence "guess") where it would leave a file
  // undetected or ambiguous.
  bool accept_unsure = false;
  EolMode eol = EolMode::keep;  // line endings of the text written anew
  BomMode bom = kDefaultBom;    // the mark of UTF targets
  std::vector<FileRule> rules;  // per pattern, the first that matches deciding
  bool editorconfig = false;  // each file's charset and end_of_line from .editorconfig, after rules
  bool repair = false;        // double-encoded and mixed files are repaired, not only reported
  bool repair_check = true;   // false: they are not even looked for (benchmarks measure it)
  // Each file is checked against its own policy (--check --editorconfig): read as its target
  // (the source and detection are not used) and what is wrong first named in the report.
  bool conform = false;
  // In place: what each file's new content replaces is kept in the tree's undo store first, a
  // file whose old content cannot be kept is not converted; older runs beyond the limits go.
  bool undo = true;
  undo::Limits undo_limits;
  // Files above this many bytes are converted in chunks of stream_chunk (tests make both small).
  uint64_t whole_file_limit = uint64_t{32} << 20;
  size_t stream_chunk = size_t{8} << 20;
};

// A file of a plan made by a preview: no search, the user's choices kept.
struct PlannedFile {
  std::string relative_dir;
  std::string file_name;
  EncodingEntry source;             // empty: the run's source
  std::string evidence = "chosen";  // "undetected" or "ambiguous" with no source: kept as it
                                    // is; "skipped": no file to convert (note says why)
  int confidence = -1;
  std::string note;  // what detection said of it
  bool excluded = false;
  bool repair = false;  // repaired (double-encoded, mixed) even when the run does not repair
};

// Everything a run needs, resolved once from the settings.
struct JobPlan {
  std::string input;
  std::string output;
  std::string filter;  // the selected filter list, or "*.*"
  EncodingEntry source;
  EncodingEntry target;
  JobOptions options;
  std::optional<std::vector<PlannedFile>> files;  // set: convert exactly these
  // Empty: the whole input is searched. Else paths below the input (files and folders named
  // on a command line): each folder is searched, each file taken when the filter accepts it,
  // and a file reached twice is taken once.
  std::vector<std::string> roots;
  // Where the front end writes the report after the run; refused when it is one of its files.
  std::string report;
};

// What stays fixed for the whole of a run of `plan` (without the run's directories, publisher
// and label check, which the job owns).
RunContext run_context(const JobPlan& plan);

class ConvertJob {
 public:
  explicit ConvertJob(JobPlan plan) : plan_(std::move(plan)) {}
  ConvertJob(const ConvertJob&) = delete;
  ConvertJob& operator=(const ConvertJob&) = delete;

  // Runs the whole job on the calling thread (and its own conversion threads) and returns
  // the report. Once per object.
  JobReport run(JobObserver& observer);

  // From any thread: the search ends at once, conversion after the files in progress.
  void request_stop() { stop_.store(true); }
  bool stop_requested() const { return stop_.load(std::memory_order_relaxed); }

  const JobPlan& plan() const { return plan_; }

 private:
  const JobPlan plan_;
  std::atomic<bool> stop_{false};
};

// Threads a job uses for `requested` (0: one per core), never more than files.
unsigned effective_threads(unsigned requested, size_t files);
