// What fails a --check run, and the exit status of a run.
#pragma once

#include "report/report.h"

enum ExitStatus {
  kExitOk = 0,
  kExitFailed = 1,  // a file not converted; --check: a file that would change
  kExitUsage = 2,   // bad usage, unknown encoding, unreadable settings file or input
  kExitStopped = 130,
};

// --check fails on an entry that cannot be as wanted (outcome_is_failure: unreadable,
// undecodable, unsupported, unwritable, a marked or outside file, an unlistable directory)
// and on one that is fine but whose bytes would change (converted, ASCII or already UTF-8 with
// `unchanged` false: a new mark, a dropped mark, re-encoded text). A file reached again
// through another path (same-file) is judged under its first path; binary and excluded files
// need nothing.
bool check_fails(const FileReport& entry);

// Entries that fail the check, search failures included.
size_t check_failures(const JobReport& report);

// 130 when stopped; 1 on any failure (or check failure with `check`); else 0.
ExitStatus run_status(const JobReport& report, bool check);
