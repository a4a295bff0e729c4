// The words of undo for a person: log lines, report notes, sizes and dates.
#pragma once

#include <cstdint>
#include <string>

#include "platform/result.h"
#include "undo/store.h"

namespace undo {

// "1.2 MB", "640 bytes".
std::string size_text(uint64_t bytes);
// The local date and time of a wall-clock instant: "2026-01-15 14:30:12".
std::string date_text(int64_t ns);

// After a run that kept files.
std::string kept_line(const RunSummary& run, size_t files, uint64_t bytes);
// A file not converted because its old content could not be kept.
std::string keep_failure_note(const std::string& place);
std::string dropped_for_count_line(const RunSummary& run, const Limits& limits);
std::string dropped_for_size_line(const RunSummary& run, const Limits& limits);
std::string cannot_drop_line(const RunSummary& run, const platform::Error& error);
std::string tidied_line(const RunSummary& run, size_t files);

}  // namespace undo

namespace undo {

// Why an undo cannot start.
std::string no_run_line(const std::string& root);
std::string no_such_run_line(const std::string& root, const std::string& id);
std::string unreadable_run_line(const RunSummary& run);
std::string busy_run_line(const RunSummary& run);

// The undo's opening line; `look_only`: nothing is changed, only what would go back is found.
std::string undo_start_line(const RunSummary& run, const std::string& root, bool look_only);

// Each file's note in the report.
std::string already_back_note();
std::string goes_back_note();
std::string changed_since_note();
std::string deleted_since_note(bool forced);
std::string damaged_kept_note();
std::string other_name_note(const std::string& name, bool changed);

// Each file's log line.
std::string put_back_line(const std::string& path, const std::string& note);
std::string not_put_back_line(const std::string& path, const std::string& detail);

// After the files: the store removed, or kept with how many files still to go back.
std::string undo_complete_line(size_t back, size_t total, double seconds, bool look_only);
std::string store_removed_line(const RunSummary& run);
std::string store_kept_line(const RunSummary& run, size_t left);

}  // namespace undo
