// Loading and saving "ouzel.yml": the settings record and its YAML document.
#pragma once

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"
#include "policy/rules.h"
#include "transcode/line_endings.h"
#include "transcode/marks.h"
#include "util/encoding_catalogue.h"

inline constexpr const char* kDefaultOutputDir = "/tmp/ouzel-out";

// The persisted settings and the document they were read from.
struct ConvertConfig {
  YAML::Node document;
  std::string path;  // the file "Save Config" writes
  std::string input;
  std::string output;
  int32_t filter_index = 0;
  std::vector<std::string> filters;
  int32_t from_index = 0;  // into the encoding catalogue
  int32_t to_index = 0;
  // Beyond the window's fields; absent from a new file and from files that never set them.
  int32_t threads = 0;                  // conversion threads; 0: one per core
  bool detect = false;                  // detect each file's source encoding
  std::vector<std::string> candidates;  // encodings or presets detection may choose from
  bool accept_unsure = false;     // detection's best guess is taken where it would refuse a file
  EolMode eol = EolMode::keep;    // line endings of the text written anew
  BomMode bom = kDefaultBom;      // the mark of UTF targets
  std::vector<FileRule> rules;    // per pattern; the first that matches a file decides
  bool repair = false;            // double-encoded and mixed files are repaired
  bool editorconfig = false;      // each file's charset and end_of_line from .editorconfig
  bool undo = true;               // in place, what a run replaces is kept to undo it
  int32_t undo_runs = 10;         // runs the undo store keeps at most
  int64_t undo_megabytes = 1024;  // old content it keeps at most (10^6 bytes)
  // The window's scale (`scale:`, 0.5 to 5); 0 follows the desktop. Read only: the file keeps
  // what the user wrote, and the window never writes it.
  double scale = 0.0;
  // A from or to the file holds but loading could not take (empty, a list or map, given twice,
  // a name not known here): why, and the fallback index used instead. While the index is still
  // that one, a save leaves the file's own text as it was written.
  struct Unread {
    std::string why;
    int32_t index = -1;
  };
  Unread from_unread, to_unread;
  // The full path of a file that was there at load but could not be read as settings. The
  // first save to it moves it aside ("ouzel.yml.bad") so that its text is never lost.
  std::string unreadable;
};

// Text of the default settings document; also writes it to `path` (failures ignored).
std::string make_default_config(const std::string& path);

// Why a settings file could not be read; empty when it was (or was made with the defaults).
struct ConfigProblem {
  int error = 0;    // errno of reading it; 0 when its text is not valid settings
  std::string why;  // the reason, for a person
  // Read, but not taken as written (a bad rule, left out), each for a person; the file itself
  // keeps them. Set whether or not the file was read.
  std::vector<std::string> diagnostics;
  // Names the file holds that loading replaced by their fallback (from, to, eol, bom), each for
  // a person. The window says them; the command line's strict resolve refuses them instead,
  // unless an option replaces them.
  std::vector<std::string> fallbacks;
  bool empty() const { return why.empty(); }
};

// Reads `path` into `config` with a fallback for every key. The problem, when there is one, is
// for the caller to show: the window logs it, the command line prints it.
ConfigProblem load_config(ConvertConfig& config, const EncodingList& encodings,
                          const std::string& path);

// What a save did: the full path written, and where the text of an unreadable file that was
// there went (empty when none was).
struct SavedConfig {
  std::string path;
  std::string kept_as;
};

// Writes the settings into the document and the document to `config.path`. A file there that
// could not be read at load is first renamed to "PATH.bad" (".bad.1", ...); when that fails
// nothing is written. A failure's context is the sentence that explains it beyond its errno,
// or empty.
platform::Result<SavedConfig> save_config(ConvertConfig& config, const EncodingList& encodings);

// The outcome of a save as the lines a person reads; `path` as the settings named it.
std::vector<std::string> save_config_lines(const platform::Result<SavedConfig>& saved,
                                           const std::string& path);
