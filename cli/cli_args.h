// The command line of ouzel-convert: its options and the table-driven parser.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/plan_resolver.h"

// What the command line asked for: the settings it sets over the settings file or the
// defaults (unset: not set), its paths and what the run does.
struct CliOptions : PlanOverrides {
  std::vector<std::string> paths;     // INPUT [OUTPUT], or files and folders
  std::optional<std::string> output;  // --output: every path is an input, written under it
  bool in_place = false;              // every path is an input, written where it is
  std::optional<std::string> config;
  bool no_sync = false;
  std::string report;
  bool dry_run = false;
  bool check = false;
  bool quiet = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
  bool list_encodings = false;
  // The undo commands, each over DIR (the one path; default the current folder).
  bool undo = false;                  // --undo [RUN]: take a run in place back
  std::string undo_run;               // its ID; empty: the newest
  bool force = false;                 // files deleted since the run are put back too
  bool list_runs = false;             // --list-runs
  std::optional<std::string> forget;  // --forget RUN|all
  bool list_presets = false;
};

// `error` is one line for the user (without the program name), empty on success.
struct ParsedArgs {
  CliOptions options;
  std::string error;
};

// Parses the arguments after the program name. "--name VALUE", "--name=VALUE", short
// aliases, and "--" before paths that start with '-' are understood. An optional value
// ("--undo=RUN") comes only after '='; --undo also takes a first path that is a run's ID.
ParsedArgs parse_arguments(const std::vector<std::string>& args);

// The --help text: usage, every option of the table, exit statuses, examples.
std::string help_text();

// The terminal columns UTF-8 `text` takes (a Chinese, Japanese or Korean character two).
size_t display_columns(const std::string& text);

// Whether `text` has the form of an undo run's ID ("20260115-143012", "20260115-143012-2").
bool is_run_id(const std::string& text);

// "ouzel-convert 3.0".
std::string version_text();
