// The report of a job: one entry for every accepted file and every unlistable directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/outcome.h"
#include "transcode/line_endings.h"
#include "transcode/stop_point.h"
#include "util/strfmt.h"

// What a check against the file's policy found wrong first.
struct Offence {
  uint64_t line = 0;  // from 1; 0: the file as a whole
  std::string what;   // "CRLF line end, LF wanted"
};

struct FileReport {
  std::string path;  // relative to the input directory, '/'-separated; bytes as found
  Outcome outcome = Outcome::not_reached;
  std::string source;  // the encoding the file was read as
  std::string target;
  uint64_t bytes = 0;  // size as read
  int error = 0;       // errno of a failure, 0 when none
  std::optional<StopPoint> stop;
  std::string note;  // the rest of the detail ("marked as UTF-16LE", "same file as a.cpp")
  // The bytes to write equal the bytes read: in place nothing is rewritten, and a check run
  // knows the file needs nothing.
  bool unchanged = false;
  std::string evidence;        // how the source was chosen: "chosen", "mark", "utf8", ...
  int confidence = -1;         // 0-100 for a detected encoding, -1 when chosen
  std::string detection_note;  // what detection said ("CP932 rather than SHIFT_JIS: ...")
  std::string sample;          // preview: the first non-ASCII line, decoded (UTF-8)
  // Line ends of the text as read and as written; counted only for text that was (or would
  // be) written anew: not for files copied as they are.
  bool eol_counted = false;
  EolCounts eol_before, eol_after;
  // Byte-order marks of a file written anew, before and after; not for files copied as read.
  bool mark_known = false;
  bool mark_before = false, mark_after = false;
  std::string rule;  // what decided its target, line ends, mark ("rule 1: *.cpp;*.h"), or empty
  std::optional<Offence> offence;  // a check against the policy: what is wrong, and where
  // Preview of a double-encoded or mixed file: the sample as the repair would write it.
  std::string repaired_sample;
};

// "CRLF 12 -> LF 12", "LF 3" when nothing changes, empty when not counted.
std::string eol_change_text(const FileReport& report);

// "BOM", "none", "none -> BOM", "BOM -> none"; empty when the file was not written anew.
std::string mark_change_text(const FileReport& report);

// "line 3: CRLF line end, LF wanted"; without "line" for the file as a whole.
std::string offence_text(const Offence& offence);

// The detail column: the error with its text, where conversion stopped, or the note.
std::string detail_text(const FileReport& report);

// How a detected source was chosen: "by file statistics". Important: a file detection left
// undetected or ambiguous that its repair then read was read by the repair ("by its lines that
// are not UTF-8 (undetected as a whole)"), and its confidence says nothing.
bool read_by_repair(const FileReport& report);
std::string read_by_text(const FileReport& report);

struct JobReport {
  std::string input, output, source, target;
  std::vector<FileReport> files;            // search order
  std::vector<FileReport> search_failures;  // outcome search_failed; path is the directory
  bool ran = false;      // false when a check ended the job before anything was made
  std::string refusal;   // then why, when the run's checks found it cannot work
  bool stopped = false;  // a stop request ended it early
  double search_seconds = 0.0;
  double convert_seconds = 0.0;
  uint64_t bytes = 0;  // read from source files
  // In place: the undo store the run kept what it replaced in (its run, folder, files, bytes);
  // no run when it kept nothing.
  struct Kept {
    std::string run, dir;
    size_t files = 0;
    uint64_t bytes = 0;
  } kept;
  std::string undone;  // an undo: the run it took back (its files are its rows)

  OutcomeCounts counts() const;  // search failures included
  size_t failures() const;       // entries with outcome_is_failure
  size_t entries() const { return files.size() + search_failures.size(); }
};

// RFC 4180 text with the header row path,outcome,source,target,bytes,detail; CR LF line
// ends; paths written as their bytes. A detected source's evidence ends the detail.
std::string report_csv(const JobReport& report);

// The same as a JSON document; a path that is not UTF-8 also comes as "path_hex".
std::string report_json(const JobReport& report);
