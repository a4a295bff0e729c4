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
  bool list_presets = false;
};

// `error` is one line for the user (without the program name), empty on success.
struct ParsedArgs {
  CliOptions options;
  std::string error;
};

// Parses the arguments after the program name. "--name VALUE", "--name=VALUE", short
// aliases, and "--" before paths that start with '-' are understood.
ParsedArgs parse_arguments(const std::vector<std::string>& args);

// The --help text: usage, every option of the table, exit statuses, examples.
std::string help_text();

// "ouzel-convert 3.0".
std::string version_text();
