// What happened to one accepted file (or one directory the search could not list).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

enum class Outcome {
  converted,     // re-encoded and written
  ascii,         // no byte >= 0x80: written without the converter
  already_utf8,  // valid UTF-8 while the target is UTF-8: only the mark policy applied
  marked,        // a byte-order mark names another encoding than the source
  binary,        // a NUL byte in the first 64 KiB of a source other than UTF-16 or UTF-32
  same_file,     // in place: reached again through another path
  outside,       // in place: a link to a file outside the input directory
  cannot_read,
  cannot_convert,  // the converter stopped; the content is kept exactly as read
  not_supported,   // the converter does not know the pair
  cannot_write,
  changed,         // the source changed while it was converted: nothing written from it
  search_failed,   // a directory that could not be listed
  undetected,      // no candidate encoding reads the file
  ambiguous,       // candidates read it as different text and the evidence does not choose
  double_encoded,  // UTF-8 text misread through a legacy encoding and saved again; not repaired
  mixed,           // lines in UTF-8 beside lines in a legacy encoding; not repaired
  excluded,        // left out by the user in a preview
  skipped,         // met by the search, but no file to convert: a FIFO, a dangling link, ...
  restored,        // an undo put the old content back (or found it back already)
  changed_since,   // an undo found it changed since the run it takes back: left as it is
  deleted_since,   // an undo found it deleted since that run: left deleted unless forced
  not_reached,     // the job was stopped before this file
};

inline constexpr size_t kOutcomeCount = static_cast<size_t>(Outcome::not_reached) + 1;

// "converted", "already-utf8", ...: the names used in the log and in reports.
std::string_view outcome_name(Outcome outcome);
std::optional<Outcome> outcome_from_name(std::string_view name);

// The file is as the user wanted it: converted, or it needed nothing.
bool outcome_is_done(Outcome outcome);

// The file was not converted and the user should look at it; counts in "N of M files were
// not converted" and makes a command-line run fail. Binary files, the user's own exclusions and
// entries that are no files to convert need nothing, so they are neither done nor failed.
bool outcome_is_failure(Outcome outcome);

// Detection left the file without an encoding (undetected, ambiguous): it is kept as read.
bool outcome_is_unsettled(Outcome outcome);

using OutcomeCounts = std::array<size_t, kOutcomeCount>;
