// One file of a job: read, classify, convert or pass through, and publish the target.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "convert/classify.h"
#include "convert/report.h"

class NarrowLabelCheck;

// What stays fixed for a whole run; shared read-only by the conversion threads.
struct RunContext {
  std::string input;  // as entered
  std::string output;
  bool in_place = false;  // output names the input directory itself
  bool dry_run = false;   // classify and convert in memory, write nothing
  bool samples = false;   // keep each file's first non-ASCII line in the report
  RunEncodings encodings;
  NarrowLabelCheck* narrow = nullptr;  // set when a hand-picked label has a wider one
};

// One accepted file as the job hands it to a converter.
struct JobFile {
  std::string relative_dir;  // "a/b", empty in the root
  std::string file_name;
  EncodingEntry source;  // a source chosen for this file alone; empty for the run's
  std::string evidence = "chosen";
  int confidence = -1;
  std::string detection_note;
  // Settled before reading: same_file, outside or excluded; converted means "process it".
  Outcome identity = Outcome::converted;
  std::string identity_note;
  std::string write_path;               // in place: the file a link inside the tree names
  std::vector<std::string> hard_links;  // in place: other names of the same file to re-link

  std::string relative_path() const;
};

// Per conversion thread: its buffers are reused from file to file.
class FileConverter {
 public:
  explicit FileConverter(const RunContext& run) : run_(run) {}

  FileReport process(const JobFile& file);

  // A line for the log that the last file gave rise to (a narrow-label hint), once.
  std::string take_hint() { return std::move(hint_); }

  // Drops the buffers a big file left behind.
  void release();

 private:
  const RunEncodings& encodings_for(const JobFile& file);
  // The bytes to publish for `cls` (or `content_` itself); fills the outcome's details.
  const std::string& produce(const RunEncodings& enc, const struct Classification& cls,
                             FileReport& report);
  std::string target_dir(const JobFile& file);
  void publish(const JobFile& file, const std::string& data, FileReport& report);

  const RunContext& run_;
  std::map<std::string, RunEncodings> overrides_;  // per overriding source name
  std::string content_;
  std::string output_;
  std::string ready_dir_;  // the last target directory known to exist
  std::string hint_;
};

// "a/b/name" of a file (bare name in the root).
std::string join_relative(const std::string& relative_dir, const std::string& name);
